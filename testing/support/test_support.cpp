#include "testing/support/test_support.h"

#include <gtest/gtest.h>
#include <oleauto.h>
#include <sddl.h>

#include <atomic>
#include <thread>
#include <vector>

#include "common/win/ansi_text.h"
#include "common/win/com_ptr.h"
#include "common/win/file_bytes.h"
#include "common/win/unique_bstr.h"
#include "common/win/unique_handle.h"
#include "common/win/unique_local.h"

namespace korvane::test {

using win::UniqueHandle;

TempDir::TempDir(std::wstring_view hint) {
  static std::atomic<unsigned> counter{0};
  wchar_t temp[MAX_PATH];
  DWORD n = ::GetTempPathW(MAX_PATH, temp);
  std::wstring base(temp, n);
  for (;;) {
    std::wstring candidate = base + std::wstring(hint) + L"-" +
                             std::to_wstring(::GetCurrentProcessId()) + L"-" +
                             std::to_wstring(counter++);
    if (::CreateDirectoryW(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) {
      ADD_FAILURE() << "cannot create a temporary folder, error " << ::GetLastError();
      return;
    }
  }
}

TempDir::~TempDir() {
  if (!path_.empty()) DeleteTree(path_);
}

std::wstring TempDir::operator/(std::wstring_view name) const {
  return path_ + L"\\" + std::wstring(name);
}

std::string ReadFileBytes(const std::wstring& path) { return win::ReadWholeFile(path); }

void WriteFileBytes(const std::wstring& path, std::string_view bytes) {
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file.valid()) << "cannot create file, error " << ::GetLastError();
  DWORD written = 0;
  ASSERT_TRUE(
      ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  ASSERT_EQ(written, bytes.size());
}

void SetMachine(const std::wstring& path, uint16_t machine) {
  std::string bytes = ReadFileBytes(path);
  ASSERT_GE(bytes.size(), 0x40u);
  const uint32_t pe = static_cast<unsigned char>(bytes[0x3C]) |
                      static_cast<unsigned char>(bytes[0x3D]) << 8;  // headers in the first 64 KiB
  ASSERT_GE(bytes.size(), pe + 6u);
  bytes[pe + 4] = static_cast<char>(machine & 0xff);
  bytes[pe + 5] = static_cast<char>(machine >> 8);
  WriteFileBytes(path, bytes);
}

void WriteSizedFile(const std::wstring& path, uint64_t size) {
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file.valid()) << "cannot create file, error " << ::GetLastError();
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(size);
  ASSERT_TRUE(::SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN));
  ASSERT_TRUE(::SetEndOfFile(file.get()));
}

void CopyFileOrFail(const std::wstring& from, const std::wstring& to) {
  ASSERT_TRUE(::CopyFileW(from.c_str(), to.c_str(), FALSE))
      << "copy failed, error " << ::GetLastError() << ": " << Narrow(from);
}

void SetAccessList(const std::wstring& path, const std::wstring& sddl) {
  win::UniqueLocal<> descriptor;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                     descriptor.put(), nullptr));
  UniqueHandle file(::CreateFileW(path.c_str(), WRITE_DAC | READ_CONTROL,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  ASSERT_TRUE(file) << "error " << ::GetLastError() << ": " << Narrow(path);
  ASSERT_TRUE(::SetKernelObjectSecurity(file.get(), DACL_SECURITY_INFORMATION, descriptor.get()))
      << "error " << ::GetLastError() << ": " << Narrow(path);
}

namespace {

// Starts a command line with a hidden window, its standard output and error going to `output`;
// the process handle, or an invalid one with the error in `error`.
UniqueHandle StartHidden(const std::wstring& commandLine, HANDLE output, DWORD creationFlags,
                         const std::wstring& cwd, DWORD* error) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  si.hStdOutput = output;
  si.hStdError = output;
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(L'\0');
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, creationFlags, nullptr,
                        cwd.empty() ? nullptr : cwd.c_str(), &si, &pi)) {
    *error = ::GetLastError();
    return {};
  }
  ::CloseHandle(pi.hThread);
  return UniqueHandle(pi.hProcess);
}

}  // namespace

UniqueHandle StartWithOutputFile(const std::wstring& commandLine, const std::wstring& outputPath) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  UniqueHandle output(::CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!output) {
    ADD_FAILURE() << "cannot create " << Narrow(outputPath) << ", error " << ::GetLastError();
    return {};
  }
  DWORD error = 0;
  UniqueHandle process = StartHidden(commandLine, output.get(), CREATE_NO_WINDOW, L"", &error);
  if (!process) ADD_FAILURE() << "cannot start " << Narrow(commandLine) << ", error " << error;
  return process;
}

ProcessResult RunProcess(const std::wstring& commandLine, const std::wstring& cwd,
                         DWORD timeoutMs) {
  ProcessResult result;
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  UniqueHandle readEnd, writeEnd;
  if (!::CreatePipe(readEnd.put(), writeEnd.put(), &sa, 0)) {
    result.startError = ::GetLastError();
    return result;
  }
  ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
  UniqueHandle process = StartHidden(commandLine, writeEnd.get(), 0, cwd, &result.startError);
  if (!process) return result;
  writeEnd.reset();
  result.started = true;

  std::thread reader([&] {
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(readEnd.get(), buffer, sizeof buffer, &got, nullptr))
      result.output.append(buffer, got);
  });
  if (::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.get(), 0xDEAD);
    ADD_FAILURE() << "child timed out: " << Narrow(commandLine);
  }
  reader.join();
  DWORD code = 0;
  ::GetExitCodeProcess(process.get(), &code);
  result.exitCode = code;
  return result;
}

void LeaveStaleErrorInfo() {
  win::ComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(::CreateErrorInfo(create.put()), S_OK);
  win::ComPtr<IErrorInfo> stale;
  ASSERT_EQ(create.query_to(&stale), S_OK);
  ::SetErrorInfo(0, stale.get());
}

std::optional<std::wstring> TakeErrorDescription() {
  win::ComPtr<IErrorInfo> info;
  const HRESULT hr = ::GetErrorInfo(0, info.put());
  if (hr == S_FALSE) return std::nullopt;
  EXPECT_EQ(hr, S_OK) << "GetErrorInfo";
  win::UniqueBstr description;
  if (info) info->GetDescription(description.put());
  return std::wstring(description.view());
}

std::vector<std::string> LogMessages(std::string_view log) {
  constexpr std::string_view kPrefix = "KorvaneCom: Run Time: ";
  const std::string kNextLine = "\r\n" + std::string(kPrefix);
  std::vector<std::string> messages;
  for (size_t at = 0; at < log.size();) {
    const size_t next = log.find(kNextLine, at);
    std::string_view line = log.substr(at, next == std::string_view::npos ? next : next - at);
    if (next == std::string_view::npos && line.size() >= 2 &&
        line.substr(line.size() - 2) == "\r\n")
      line.remove_suffix(2);
    const size_t separator = line.find("; ");
    if (line.substr(0, kPrefix.size()) == kPrefix && separator != std::string_view::npos)
      messages.emplace_back(line.substr(separator + 2));
    else
      messages.push_back("!!" + std::string(line));
    at = next == std::string_view::npos ? log.size() : next + 2;
  }
  return messages;
}

}  // namespace korvane::test
