// The plug-in as a host sees it: loaded by path, driven through its export.
#include <gtest/gtest.h>

#include <string>

#include "support/FakeHost.h"
#include "support/Files.h"
#include "support/FixedDebugFolder.h"
#include "support/LoadedPlugin.h"

namespace {

const DriverTable* LoadTable() {
    testsupport::LoadedPlugin& plugin = testsupport::BuiltPlugin();
    EXPECT_TRUE(plugin.loaded()) << plugin.error();
    if (!plugin.loaded()) return nullptr;
    return plugin.entry()(&testsupport::FakeHostServices());
}

}  // namespace

TEST(LoadedPlugin, ExportsTheTableWithVersionAndSixOperations) {
    const DriverTable* table = LoadTable();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->version, 1);
    EXPECT_EQ(table, testsupport::BuiltPlugin().entry()(&testsupport::FakeHostServices()));
    EXPECT_EQ(table->drv_nop, table->drv_nop2);
    EXPECT_EQ(table->drv_zero(), 0);
}

TEST(LoadedPlugin, RefusedOpenAndEmptyCloseWriteTheirLinesToTheFixedFolder) {
    const DriverTable* table = LoadTable();
    ASSERT_NE(table, nullptr);
    testsupport::FixedDebugFolder folder;
    if (!folder.usable()) GTEST_SKIP() << "the fixed debug folder exists already; not touching it";
    testsupport::WriteFile(folder.File("Log.txt"), {});

    testsupport::FakeStream stream;
    void* sentinel = &stream;
    stream.handle.pReader = sentinel;
    const uint32_t options[] = {QX_TAG_EYES, 1, 0, 0};
    EXPECT_EQ(table->drv_open(&stream.handle, u"clip.AVI", options), 0);
    EXPECT_EQ(stream.handle.pReader, sentinel);

    testsupport::FakeStream empty;
    table->drv_close(&empty.handle);

    const std::string log = testsupport::ReadFileText(folder.File("Log.txt"));
#ifdef _WIN32
    const std::string eol = "\r\n";  // the log file is written in text mode
#else
    const std::string eol = "\n";
#endif
    const std::string pad299 = std::string(35 - 12, ' ');
    EXPECT_NE(log.find("\tMirolan(299)" + pad299 + "\tNot a avi File" + eol + eol),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\tMirolan(51)" + std::string(35 - 11, ' ') + "\tdrv_close" + eol),
              std::string::npos)
        << log;
    // Each line starts with the local date and time and the milliseconds.
    ASSERT_GE(log.size(), 21u);
    EXPECT_EQ(log[4], '-');
    EXPECT_EQ(log[10], ' ');
    EXPECT_EQ(log[19], '.');
}
