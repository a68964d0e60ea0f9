// Files as the C runtime's descriptors, for libraries that take one
// (libtiff): binary, kept from child processes, with 64-bit sizes and
// offsets on every platform. Failures return -1 or false with errno set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qvformats::descriptor {

// Opens a new file for reading and writing; fails with EEXIST when the
// name exists already, whatever it names.
int createExclusive(const std::string& path);
int openForReading(const std::string& path);
void close(int fd);
// The size of a regular file; false for anything else.
bool regularFileSize(int fd, uint64_t& size);
// Reads exactly bytes at offset without moving the file position.
bool readAt(int fd, void* buffer, size_t bytes, uint64_t offset);
void removeFile(const std::string& path);

}  // namespace qvformats::descriptor
