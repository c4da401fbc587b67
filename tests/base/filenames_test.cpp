#include "base/filenames.h"

#include <gtest/gtest.h>

using namespace talorin;

TEST(BaseFileName, CutsAtTheFirstDotOfTheName) {
    EXPECT_EQ(BaseFileName("fuji.bmp"), "fuji");
    EXPECT_EQ(BaseFileName("fuji.old.bmp"), "fuji");
    EXPECT_EQ(BaseFileName("/home/user/maps/fuji.old.bmp"), "fuji");
}

TEST(BaseFileName, DotsInFoldersDoNotCount) {
    EXPECT_EQ(BaseFileName("/home/user/v1.2/alps"), "alps");
    EXPECT_EQ(BaseFileName("./alps.bmp"), "alps");
}

TEST(BaseFileName, NameStartingWithADotIsEmpty) {
    EXPECT_EQ(BaseFileName(".hidden"), "");
    EXPECT_EQ(BaseFileName("maps/.hidden.bmp"), "");
}

TEST(BaseFileName, NameWithoutDotOrFolderIsWhole) {
    EXPECT_EQ(BaseFileName("terrain"), "terrain");
    EXPECT_EQ(BaseFileName(""), "");
    EXPECT_EQ(BaseFileName("maps/"), "");
}

TEST(FolderPart, KeepsEverythingUpToTheLastSlash) {
    EXPECT_EQ(FolderPart("/home/user/maps/fuji.bmp"), "/home/user/maps/");
    EXPECT_EQ(FolderPart("maps/fuji.bmp"), "maps/");
    EXPECT_EQ(FolderPart("/fuji.bmp"), "/");
    EXPECT_EQ(FolderPart("maps/"), "maps/");
}

TEST(FolderPart, EmptyWithoutAFolder) {
    EXPECT_EQ(FolderPart("fuji.bmp"), "");
    EXPECT_EQ(FolderPart(""), "");
}
