#include "engine/engine.h"

#include <windows.h>

#include <algorithm>
#include <new>
#include <optional>

#include "common/win/unique_handle.h"
#include "engine/command_line.h"
#include "engine/convert.h"
#include "engine/request.h"

namespace korvane::engine {

const char kUsage[] = "usage: [-to html|text] [-eol crlf|lf] [--] <in-file> [<out-file>]";

namespace {

using win::UniqueHandle;

Outcome Fail(int code, std::string message) { return Outcome{code, std::move(message)}; }

std::string SystemError(DWORD error) { return " (system error " + std::to_string(error) + ")"; }

// The name part of a path, for the HTML title.
std::string_view FileNameOf(std::string_view path) {
  size_t slash = path.find_last_of("\\/:");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The charset name of the ANSI code page, as the HTML page declares it.
std::string CharsetOf(UINT codePage) {
  switch (codePage) {
    case 65001:
      return "utf-8";
    case 932:
      return "shift_jis";
    case 936:
      return "gbk";
    case 949:
      return "euc-kr";
    case 950:
      return "big5";
    default:
      return "windows-" + std::to_string(codePage);
  }
}

Outcome ReadInput(const std::string& path, std::string& bytes) {
  UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file)
    return Fail(kInputUnreadable, "cannot open '" + path + "'" + SystemError(::GetLastError()));
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size))
    return Fail(kInputUnreadable, "cannot read '" + path + "'" + SystemError(::GetLastError()));
  if (static_cast<unsigned long long>(size.QuadPart) > kMaxInputBytes)
    return Fail(kInputTooLarge, "'" + path + "' is larger than the engine handles (" +
                                    std::to_string(kMaxInputBytes >> 20) + " MiB)");
  bytes.resize(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), &bytes[done], static_cast<DWORD>(bytes.size() - done), &got,
                    nullptr))
      return Fail(kInputUnreadable, "cannot read '" + path + "'" + SystemError(::GetLastError()));
    if (got == 0) break;  // the file shrank while we read it: convert what is there
    done += got;
  }
  bytes.resize(done);
  return Outcome{};
}

// The identity of an existing file (volume and index), whatever spelling names it.
std::optional<std::pair<DWORD, ULONGLONG>> FileIdentity(const std::string& path) {
  UniqueHandle file(::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file || !::GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
  return std::make_pair(info.dwVolumeSerialNumber,
                        (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
}

// The folder part of a path ("" for a bare name: the current folder).
std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/:");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

Outcome WriteAll(HANDLE file, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD wrote = 0;
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    if (!::WriteFile(file, bytes.data() + done, chunk, &wrote, nullptr) || wrote == 0)
      return Fail(kOutputUnwritable, SystemError(::GetLastError()));
    done += wrote;
  }
  return Outcome{};
}

// The output is written whole into a temporary file beside the target, which then replaces the
// target: a failure at any point leaves an existing output as it was, and never a half-written
// file that would pass for a finished one.
Outcome WriteOutput(const std::string& path, const std::string& bytes) {
  const std::string folder = FolderOf(path);
  char temporary[MAX_PATH + 16] = {};
  if (!::GetTempFileNameA(folder.empty() ? "." : folder.c_str(), "qdl", 0, temporary))
    return Fail(kOutputUnwritable, "cannot create '" + path + "'" + SystemError(::GetLastError()));
  UniqueHandle file(::CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  Outcome written =
      file ? WriteAll(file.get(), bytes) : Fail(kOutputUnwritable, SystemError(::GetLastError()));
  if (written.code == kOk && !file.reset())
    written = Fail(kOutputUnwritable, SystemError(::GetLastError()));
  file.reset();
  if (written.code == kOk &&
      !::MoveFileExA(temporary, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    written = Fail(kOutputUnwritable, SystemError(::GetLastError()));
  if (written.code != kOk) {
    ::DeleteFileA(temporary);
    return Fail(kOutputUnwritable, "cannot write '" + path + "'" + written.message);
  }
  return Outcome{};
}

Outcome Run(std::string_view commandLine) {
  std::optional<std::vector<std::string>> args = SplitArguments(commandLine);
  if (!args) return Fail(kBadUsage, "a double quote in the command line is not closed");
  ParsedRequest parsed = ParseRequest(*args);
  if (!parsed.ok) return Fail(kBadUsage, parsed.error);
  const Request& request = parsed.request;

  // Converting a file onto itself would destroy it if anything went wrong: refused, whatever
  // spelling (case, short name, another path to the same folder) the output uses.
  std::optional<std::pair<DWORD, ULONGLONG>> in = FileIdentity(request.inPath);
  if (in && in == FileIdentity(request.outPath))
    return Fail(kOutputIsInput, "the output '" + request.outPath + "' is the input file");

  std::string input;
  if (Outcome read = ReadInput(request.inPath, input); read.code != kOk) return read;
  Converted converted = ConvertDocument(input, request.format, request.eol,
                                        FileNameOf(request.inPath), CharsetOf(::GetACP()));
  input = std::string();  // the input is no longer needed: free it before writing
  if (Outcome written = WriteOutput(request.outPath, converted.bytes); written.code != kOk)
    return written;
  return Outcome{kOk, "converted " + request.inPath + " -> " + request.outPath + " (" +
                          std::to_string(converted.lines) +
                          (converted.lines == 1 ? " line)" : " lines)")};
}

}  // namespace

Outcome RunConversion(std::string_view commandLine) noexcept {
  try {
    return Run(commandLine);
  } catch (const std::bad_alloc&) {
    return Outcome{kInputTooLarge, "out of memory"};
  } catch (...) {
    // std::length_error and the like: the document did not fit either.
    return Outcome{kInputTooLarge, "out of memory"};
  }
}

}  // namespace korvane::engine
