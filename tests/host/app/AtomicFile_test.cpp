// SPDX-License-Identifier: Apache-2.0
#include "AtomicFile.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "../../TestSupport.h"
#include "ImageFiles.h"

using TestSupport::fileContent;
using Vireo::AtomicFile;
using Vireo::writeFileAtomically;

// Writers racing on one file leave one writer's whole content, never a mix.
TEST(AtomicFile, ConcurrentWritersLeaveOneWholeFile) {
    const std::string path = TestImages::scratchFolder() + "/raced.txt";
    const std::string a(200000, 'a'), b(300000, 'b');
    std::vector<std::thread> writers;
    for (const std::string* content : {&a, &b})
        writers.emplace_back([&path, content] {
            for (int i = 0; i < 20; ++i) writeFileAtomically(path, *content);
        });
    for (std::thread& t : writers) t.join();
    const std::string result = fileContent(path);
    EXPECT_TRUE(result == a || result == b) << result.size() << " bytes";
}

TEST(AtomicFile, AnUncommittedWriteLeavesTheTargetAndNoTemporaryFile) {
    const std::string folder = TestImages::scratchFolder() + "/uncommitted";
    std::filesystem::create_directories(folder);
    const std::string path = folder + "/target.png";
    writeFileAtomically(path, "previous");
    ::chmod(path.c_str(), 0640);
    std::string temporary;
    {
        AtomicFile file(path);
        temporary = file.temporary();
        EXPECT_EQ(std::filesystem::path(temporary).extension(), ".png") << "the format survives";
        EXPECT_EQ(std::filesystem::path(temporary).parent_path(), folder);
        file.write("half of the new");
    }  // destroyed before commit(), as when a writer throws
    EXPECT_EQ(fileContent(path), "previous");
    EXPECT_FALSE(std::filesystem::exists(temporary));

    writeFileAtomically(path, "new");
    EXPECT_EQ(fileContent(path), "new");
    struct stat info;
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u) << "the target keeps its permissions";
}

// A script kept as a link to its current version is saved into that version: the link stays,
// and the temporary file is made beside the version (a rename cannot cross file systems).
TEST(AtomicFile, ALinkedTargetKeepsItsLinkAndTheFileItPointsToIsReplaced) {
    namespace fs = std::filesystem;
    const fs::path folder = TestImages::scratchFolder() + "/linked";
    fs::remove_all(folder);
    fs::create_directories(folder / "versions");
    const fs::path version = folder / "versions" / "shot_v12.vireo";
    const fs::path link = folder / "shot.vireo";
    writeFileAtomically(version.string(), "version 12");
    fs::create_symlink("versions/shot_v12.vireo", link);
    {
        AtomicFile file(link.string());
        EXPECT_EQ(fs::path(file.temporary()).parent_path(), folder / "versions");
        file.write("version 12, edited");
        file.commit();
    }
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fileContent(version.string()), "version 12, edited");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder / "versions"), {}), 1)
        << "no temporary file left";

    // A link to nothing is replaced by the file, as before there was a link.
    const fs::path dangling = folder / "dangling.vireo";
    fs::create_symlink("versions/none.vireo", dangling);
    writeFileAtomically(dangling.string(), "new");
    EXPECT_FALSE(fs::is_symlink(dangling));
    EXPECT_EQ(fileContent(dangling.string()), "new");
}
