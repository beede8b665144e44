#include "archive/result_code.h"

namespace korvane {

namespace {
// The texts are the program's established wording, misspelling and all:
// scripts and users may match on them.
constexpr const char* messages[result_code_count] = {
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
    "The archive would be larger than the destination's file system allows for one file (FAT32: 4 "
    "GiB less one byte).",
};
}  // namespace

const char* result_message(ResultCode code) {
    if (code < 0 || code >= result_code_count) return nullptr;
    return messages[code];
}

std::string describe(const ArchiveFault& fault) {
    if (fault.entry.empty() && fault.reason.empty()) return std::string();
    if (fault.entry.empty()) return "the archive is refused: " + fault.reason;
    return "entry '" + fault.entry + "' " + (fault.reason.empty() ? "failed" : fault.reason);
}

}  // namespace korvane
