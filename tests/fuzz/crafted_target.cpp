#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>

#include "archive/cipher/aes_enc.h"
#include "archive/format.h"
#include "archive/zstreams.h"
#include "engine/reader.h"
#include "fuzz_scratch.h"

namespace korvane::fuzz {

namespace {

// What the stream inflates to as far as it is valid: the size a writer
// would have recorded for it.
std::uint32_t inflated_size(std::string& stream) {
    Inflater inflater;
    if (!inflater.start()) return 0;
    z_stream& z = inflater.stream();
    z.next_in = reinterpret_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    unsigned char out[block_size];
    std::uint32_t total = 0;
    int status = Z_OK;
    while (status == Z_OK && total < UINT32_MAX - block_size) {
        z.next_out = out;
        z.avail_out = block_size;
        status = inflate(&z, Z_NO_FLUSH);
        total += static_cast<std::uint32_t>(block_size - z.avail_out);
    }
    return total;
}

// First byte: the name's length; then the name; the rest is the raw deflate
// stream. The archive around them is valid and encrypted with the password.
std::string archive_around(const std::uint8_t* data, std::size_t size) {
    const std::size_t name_length = size ? std::min<std::size_t>(data[0], size - 1) : 0;
    EntryInfo entry;
    entry.name.assign(reinterpret_cast<const char*>(data) + (size ? 1 : 0), name_length);
    std::string stream(reinterpret_cast<const char*>(data) + (size ? 1 : 0) + name_length,
                       size - (size ? 1 : 0) - name_length);

    const std::uint32_t plain_size = inflated_size(stream);
    CAesEnc aes;
    unsigned char salt[16], verifier[verifier_length], code[auth_code_length];
    aes.encrypt_start(reinterpret_cast<const unsigned char*>(password), salt, verifier);
    auto* bytes = reinterpret_cast<unsigned char*>(stream.data());
    for (std::size_t at = 0; at < stream.size(); at += block_size)
        aes.encrypt(bytes + at, static_cast<unsigned int>(std::min(block_size, stream.size() - at)));
    aes.encrypt_end(code);
    check(aes.ok(), "cipher failed");

    entry.strength = key_strength(std::strlen(password));
    const unsigned int salt_bytes = salt_length(entry.strength);
    entry.compressed_size =
        static_cast<std::uint32_t>(salt_bytes + verifier_length + stream.size() + auth_code_length);
    entry.uncompressed_size = plain_size;
    entry.time = {0x5A8F, 0x366F};

    std::string archive;
    append_local_header(archive, entry);
    archive.append(reinterpret_cast<const char*>(salt), salt_bytes);
    archive.append(reinterpret_cast<const char*>(verifier), verifier_length);
    archive += stream;
    archive.append(reinterpret_cast<const char*>(code), auth_code_length);
    const auto directory_offset = static_cast<std::uint32_t>(archive.size());
    std::string directory;
    append_central_record(directory, entry);
    archive += directory;
    append_end_record(archive, 1, static_cast<std::uint32_t>(directory.size()), directory_offset);
    return archive;
}

}  // namespace

int crafted_target(const std::uint8_t* data, std::size_t size) {
    const std::string archive = archive_around(data, size);
    Scratch& s = scratch();
    s.write_archive(archive.data(), archive.size());
    ArchiveReader reader;
    std::atomic<std::uint64_t> processed{0};
    std::atomic<bool> cancel{false};
    const ResultCode result = reader.extract_all(s.archive().c_str(), s.destination().c_str(),
                                                 password, processed, cancel);
    // A correctly encrypted archive never fails the password check.
    check(result != result_bad_password, "the right password was refused");
    s.check_after(result);
    return 0;
}

}  // namespace korvane::fuzz
