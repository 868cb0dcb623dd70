// vcardinfo FILE | -
//
// Reads the objects of a vCard/vCalendar file one after another with the
// library's object reader and prints one JSON object per line for each:
//
//   {"offset":0,"type":1,"kind":"vcard","result":0,"slots":[
//     {"class":1,"index":0,"code":"N","flags":0,"value":"Doe;John"}, ...]}
//   {"offset":120,"type":3,"kind":"event","result":0,"calendar":{...}}
//
// "offset" is where the object's text begins, "type" the object type (0 none,
// 1 vCard, 2 to-do, 3 event) and "result" what the reader returned. A vCard
// lists every used slot of the contact record (class 1 short, 2 medium,
// 3 long; index within the class); a to-do or event lists every field of the
// calendar record. Text is printed as it is where it is valid UTF-8; every
// byte that is not part of a valid UTF-8 sequence is printed as \u00XX of
// that byte (so \u00e9 in the output may be the byte E9, while a valid é
// appears as itself), and control characters are escaped as JSON requires.
//
// The file, or standard input for "-", is read into memory and read from
// there through a memory stream (object_json.h). The tool stops at the end of
// the data, on a hard stream error, or when the reader makes no progress.
// Errors are one line on standard error; exit status 2 for bad usage, 1 for
// a file that cannot be read, 0 otherwise.
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "object_json.h"

namespace {

// Reads all of `file` into *data; false when a read fails.
bool Slurp(std::FILE* file, std::string* data) {
  char block[1 << 16];
  std::size_t n;
  while ((n = std::fread(block, 1, sizeof block, file)) > 0) data->append(block, n);
  return std::ferror(file) == 0;
}

// Prints the objects of `data` (named `name` in messages).
int ReadData(std::string& data, const std::string& name) {
  // Stream positions are 32-bit.
  if (data.size() > INT32_MAX) {
    std::fprintf(stderr, "vcardinfo: %s is too large\n", name.c_str());
    return 1;
  }
  const bool read = mztools::DescribeObjects(
      data, [](std::string_view out) { std::fwrite(out.data(), 1, out.size(), stdout); });
  if (!read) {
    std::fprintf(stderr, "vcardinfo: out of memory\n");
    return 1;
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "vcardinfo: cannot write the output\n");
    return 1;
  }
  return 0;
}

int ReadStandardInput() {
  std::string data;
  if (!Slurp(stdin, &data)) {
    std::fprintf(stderr, "vcardinfo: cannot read standard input\n");
    return 1;
  }
  return ReadData(data, "standard input");
}

int ReadFile(const char* path) {
  // fopen accepts a directory, whose reads then fail like an empty file.
  struct stat info;
  if (stat(path, &info) == 0 && S_ISDIR(info.st_mode)) {
    std::fprintf(stderr, "vcardinfo: cannot read %s: %s\n", path, std::strerror(EISDIR));
    return 1;
  }
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "vcardinfo: cannot open %s: %s\n", path, std::strerror(errno));
    return 1;
  }
  std::string data;
  const bool read = Slurp(file, &data);
  const int error = errno;
  std::fclose(file);
  if (!read) {
    std::fprintf(stderr, "vcardinfo: cannot read %s: %s\n", path, std::strerror(error));
    return 1;
  }
  return ReadData(data, path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || argv[1][0] == '\0') {
    std::fprintf(stderr, "usage: vcardinfo FILE (or - for standard input)\n");
    return 2;
  }
  return std::strcmp(argv[1], "-") == 0 ? ReadStandardInput() : ReadFile(argv[1]);
}
