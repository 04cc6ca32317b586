#include <gtest/gtest.h>
#include <QTemporaryDir>
#include <chrono>
#include <filesystem>

#include "base/AtomicFile.h"
#include "base/RuntimeError.h"
#include "support/FileText.h"

namespace fs = std::filesystem;

namespace {

TEST(AtomicFile, ReplacesContentsAndLeavesNoTemporaryFiles) {
    QTemporaryDir dir;
    const fs::path file = fs::path(dir.path().toStdString()) / "a.ini";
    writeFileAtomically(file, "one\n");
    writeFileAtomically(file, "two\n");
    EXPECT_EQ(readAll(file), "two\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()),
              1);
}

TEST(AtomicFile, AFailedWriteKeepsTheOldFile) {
    QTemporaryDir dir;
    const fs::path folder = fs::path(dir.path().toStdString());
    const fs::path file = folder / "a.ini";
    writeFileAtomically(file, "kept\n");
    // A folder in the way of the rename makes the write fail at its last step.
    const fs::path blocked = folder / "dir.ini";
    fs::create_directory(blocked);
    fs::create_directory(blocked / "inside");
    EXPECT_THROW(writeFileAtomically(blocked, "x"), RuntimeError);
    EXPECT_THROW(writeFileAtomically(folder / "missing" / "b.ini", "x"), RuntimeError);
    EXPECT_EQ(readAll(file), "kept\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
}

TEST(AtomicFile, StaleTemporariesOfAKilledSaveAreRemovedAndNothingElse) {
    QTemporaryDir dir;
    const fs::path folder = dir.path().toStdString();
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (const char* name : {"qixBrindle.ini.tmp-a1B2c3", "qixBrindle_bck.ini.tmp-ZZZZZZ",
                             "notes.tmp-abc", "qixBrindle.ini", "keep.tmp-ab_c12"}) {
        std::ofstream(folder / name) << "x";
        fs::last_write_time(folder / name, old);
    }
    std::ofstream(folder / "registry.reg.tmp-Q1w2E3") << "in progress";  // a save under way
    EXPECT_EQ(removeStaleTemporaryFiles(folder), 2);
    EXPECT_FALSE(fs::exists(folder / "qixBrindle.ini.tmp-a1B2c3"));
    EXPECT_FALSE(fs::exists(folder / "qixBrindle_bck.ini.tmp-ZZZZZZ"));
    for (const char* name :
         {"notes.tmp-abc", "qixBrindle.ini", "keep.tmp-ab_c12", "registry.reg.tmp-Q1w2E3"})
        EXPECT_TRUE(fs::exists(folder / name)) << name;
    EXPECT_EQ(removeStaleTemporaryFiles(folder / "missing"), 0);
}

}  // namespace
