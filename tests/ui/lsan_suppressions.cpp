// Qt Quick's software scene graph keeps the textures of images it loaded in caches that it does
// not free when a view goes away; the leak checker sees them as unreachable cycles at exit. They
// belong to Qt, not to Dunelo, and are the same for every view. Qt is built without frame
// pointers, so the recorded stacks end inside Qt: the suppressions name its libraries, which only
// hides blocks that Qt itself allocated.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libQt6Gui.so\n"
         "leak:libQt6Quick.so\n";
}
