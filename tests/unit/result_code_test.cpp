#include "archive/result_code.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

TEST(ResultCode, EveryCodeHasItsExactText) {
    const char* expected[result_code_count] = {
        nullptr,
        "The password is invalid.",
        "Error due to invalid data.",
        "Cancel buuton has been clicked",
        "Compression error",
        "Expansion Error",
        "Error, file cannot be closed.",
        "Input file cannot be read.",
        "Cannot write to output file",
        "Cannot open output file.",
        "The input file does not exist.",
        "The target file is not encrypted.",
        "Folder cannot be created.",
        "Error caused by memory limitations",
        "Invalid path to encrypted file.",
        "The input file exceeds the maximum size of 2GB.",
        "Internal error: the job stopped at a fault of the program.",
        "The archive would be larger than the destination's file system allows for one file (FAT32: 4 GiB less one byte).",
    };
    EXPECT_EQ(result_message(result_ok), nullptr);
    for (ResultCode code = 1; code < result_code_count; ++code) {
        ASSERT_NE(result_message(code), nullptr) << code;
        EXPECT_STREQ(result_message(code), expected[code]) << code;
    }
    EXPECT_EQ(result_message(-1), nullptr);
    EXPECT_EQ(result_message(18), nullptr);
}

}  // namespace
}  // namespace korvane
