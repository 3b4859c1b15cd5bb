#include "platform/desktop/xdg_autostart.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/scratch_dir.h"

namespace dunelo {
namespace {

using testing::readFile;
using testing::ScratchDir;

// What a desktop reads back from an Exec value: the string-level escapes first, then the
// argument quoting, then the %% field code. Returns the argument list.
std::vector<std::string> parseExec(const std::string& value) {
  std::string unescaped;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      const char n = value[++i];
      unescaped += n == 's' ? ' ' : n == 'n' ? '\n' : n == 't' ? '\t' : n == 'r' ? '\r' : n;
      continue;
    }
    unescaped += value[i];
  }
  std::vector<std::string> args;
  std::string cur;
  bool inQuotes = false, any = false;
  for (size_t i = 0; i < unescaped.size(); ++i) {
    const char c = unescaped[i];
    if (inQuotes) {
      if (c == '\\' && i + 1 < unescaped.size()) {
        cur += unescaped[++i];
      } else if (c == '"') {
        inQuotes = false;
      } else {
        cur += c;
      }
    } else if (c == '"') {
      inQuotes = any = true;
    } else if (c == ' ') {
      if (any) args.push_back(cur);
      cur.clear();
      any = false;
    } else if (c == '%' && i + 1 < unescaped.size() && unescaped[i + 1] == '%') {
      cur += '%';
      ++i;
      any = true;
    } else {
      cur += c;
      any = true;
    }
  }
  if (any) args.push_back(cur);
  return args;
}

TEST(DesktopExec, EveryRepresentablePathReadsBackAsOneArgument) {
  for (const std::string path :
       {"/usr/bin/dunelo", "/opt/My Apps/dunelo", "/home/o'neil/bin/dunelo",
        "/tmp/a\"b`c$d\\e/dunelo", "/srv/100%/dunelo", "/x/tab\there", "/x/new\nline",
        "/x/cr\rhere", "/x/(;|&)*?#~<>/dunelo", "/usr/local/bin/d\xC3\xBCnelo"}) {
    SCOPED_TRACE(path);
    const auto exec = desktopExecValue(path);
    ASSERT_TRUE(exec);
    EXPECT_EQ(exec->find('\n'), std::string::npos);  // one line in the file
    EXPECT_EQ(parseExec(*exec), std::vector<std::string>{path});
  }
  EXPECT_EQ(desktopExecValue("/usr/bin/dunelo"), "/usr/bin/dunelo");  // no needless quotes
  EXPECT_EQ(desktopExecValue("/a b\\c"), R"("/a b\\\\c")");           // a backslash becomes four
  for (const std::string& bad : {std::string("/x/\x01"), std::string("/x/\x7F"),
                                 std::string("/x/\xC3"), std::string("/x/\xC0\xAF")})
    EXPECT_EQ(desktopExecValue(bad), std::nullopt);
}

TEST(XdgAutostart, RegisterWritesTheEntryAndUnregisterRemovesIt) {
  ScratchDir dir;
  XdgAutostart item(dir.file("config/autostart"), kDesktopId, "/opt/Dunelo App/dunelo");
  const std::string entry = dir.file("config/autostart/io.dunelo.Dunelo.desktop");
  EXPECT_EQ(item.entryPath(), entry);

  ASSERT_TRUE(item.registerApp());
  const std::string text = readFile(entry);
  EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
  EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
  EXPECT_NE(text.find("\nExec=\"/opt/Dunelo App/dunelo\"\n"), std::string::npos) << text;
  ASSERT_TRUE(item.registerApp());  // again: replaces, leaves no temporary files
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("config/autostart")),
                          std::filesystem::directory_iterator()),
            1);

  EXPECT_TRUE(item.unregisterApp());
  EXPECT_FALSE(std::filesystem::exists(entry));
  EXPECT_TRUE(item.unregisterApp());  // already gone
}

TEST(XdgAutostart, ReportsWhatItCannotDo) {
  ScratchDir dir;
  EXPECT_FALSE(XdgAutostart(dir.file("autostart"), kDesktopId, "relative/dunelo").registerApp());
  EXPECT_FALSE(XdgAutostart(dir.file("autostart"), kDesktopId, "/bad\x01").registerApp());
  testing::writeFile(dir.file("file"), "");
  EXPECT_FALSE(XdgAutostart(dir.file("file/autostart"), kDesktopId, "/usr/bin/d").registerApp());
}

}  // namespace
}  // namespace dunelo
