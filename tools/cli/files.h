#pragma once
// What aufhost asks of the file system beyond the standard streams. Names are UTF-8 on every
// platform; on Windows they are handed to the wide-character file functions.
#include <istream>
#include <memory>
#include <string>

namespace cli {

enum class FileKind {
  kMissing,  // nothing by that name yet
  kRegular,
  kDirectory,
  kStream,  // a device, FIFO, socket and the like
};

// Where writing a name lands.
struct Target {
  std::string path;  // the file itself: links followed, its folder made absolute
  FileKind kind = FileKind::kMissing;
  // Written straight through rather than replaced: a device, a FIFO, a descriptor such as /dev/stdout,
  // or a Windows device name such as NUL.
  bool direct = false;
  std::string error;  // why the name leads nowhere (a folder is missing, ...); then the rest is unset
};

Target ResolveTarget(const std::string& path);

// Opens a file for reading; the IoError names the file and the reason.
std::unique_ptr<std::istream> OpenInputFile(const std::string& path);

// Whether writing one name would overwrite the file the other names: the same existing file under any
// spelling (links, "./", hard links), or the same new name in the same folder. Devices and FIFOs are
// never the same file: nothing of them is overwritten.
bool SameFile(const std::string& a, const std::string& b);

// The text of a C library error number, as "No such file or directory".
std::string ErrorText(int error);

#if defined(_WIN32)
std::wstring Wide(const std::string& utf8);
std::string Utf8(const wchar_t* wide);
std::string WindowsErrorText(unsigned long error);  // a GetLastError() value
#endif

}  // namespace cli
