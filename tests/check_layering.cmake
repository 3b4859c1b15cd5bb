# Fails when a file of the platform-free core reaches for a backend or a toolkit, or selects code
# with the preprocessor, or when anything outside src/app/ reaches up into it. Only the entry
# point in src/app/ (files named main*.cpp or *composition*) may name a backend.
file(GLOB_RECURSE core_files
  ${SOURCE_DIR}/src/core/*.[hc]pp ${SOURCE_DIR}/src/core/*.h
  ${SOURCE_DIR}/src/settings/*.[hc]pp ${SOURCE_DIR}/src/settings/*.h
  ${SOURCE_DIR}/src/shake/*.[hc]pp ${SOURCE_DIR}/src/shake/*.h
  ${SOURCE_DIR}/src/system/*.[hc]pp ${SOURCE_DIR}/src/system/*.h
  ${SOURCE_DIR}/src/overlay/*.[hc]pp ${SOURCE_DIR}/src/overlay/*.h
  ${SOURCE_DIR}/src/app/*.[hc]pp ${SOURCE_DIR}/src/app/*.h
  ${SOURCE_DIR}/src/platform/*.h)
set(failures "")
foreach(f IN LISTS core_files)
  get_filename_component(name ${f} NAME)
  if(name MATCHES "^main.*\\.cpp$" OR name MATCHES "composition")
    continue()
  endif()
  # The recursive glob also reaches the backends under src/platform/; only the interfaces count.
  if(f MATCHES "/src/platform/[^/]+/")
    continue()
  endif()
  file(STRINGS ${f} lines)
  foreach(line IN LISTS lines)
    if(line MATCHES "#include [<\"](xcb/|X11/|Q[A-Za-z]|qt)" OR
       line MATCHES "#include \"platform/(x11|sim|desktop|gnome)/" OR
       line MATCHES "^[ \t]*#[ \t]*(if|ifdef|ifndef|elif)[ \t]")
      string(APPEND failures "${f}: ${line}\n")
    endif()
  endforeach()
endforeach()
# src/app/ is the top: the composition root and the coordinator. Nothing below includes it.
file(GLOB_RECURSE all_files ${SOURCE_DIR}/src/*.[hc]pp ${SOURCE_DIR}/src/*.h)
foreach(f IN LISTS all_files)
  if(f MATCHES "/src/app/")
    continue()
  endif()
  file(STRINGS ${f} lines REGEX "#[ \t]*include")
  foreach(line IN LISTS lines)
    if(line MATCHES "#[ \t]*include [<\"]app/")
      string(APPEND failures "${f}: ${line}\n")
    endif()
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "A file reaches outside its layer:\n${failures}")
endif()
message(STATUS "layering ok: ${CMAKE_CURRENT_LIST_FILE}")
