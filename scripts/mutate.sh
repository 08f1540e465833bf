#!/usr/bin/env bash
# Samples whether the tests catch faults: applies one listed one-line change (a mutant) at a time
# to the product, rebuilds the x86_64 tree, runs the tests named for it, and puts the file back,
# always, an interrupt included. A mutant is caught when the build or one of its tests fails.
# Prints caught or missed per mutant, then the score; exits non-zero when any was missed.
#   scripts/mutate.sh [-B <x86_64 build folder>] [mutant number...]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build/x86_64
if [ "${1:-}" = -B ]; then build=$2; shift 2; fi
# shellcheck source=scripts/wine-env.sh
source "$root/scripts/wine-env.sh"

# Triples: file, a sed expression changing exactly one of its lines, the ctest regex that must fail.
mutants=(
  cli/argument_join.cpp '0,/int i = 1;/s//int i = 2;/' '^Quandrelcmd\.'
  cli/argument_join.cpp 's/line += "\\" ";/line += "\\"";/' '^JoinQuotedArguments\.'
  cli/library_path.cpp 's/path.size() + 1 > kMax/path.size() > kMax/' '^LibraryPathFromProgramPath\.'
  engine/command_line.cpp 's/if (quoted) return std::nullopt;/(void)quoted;/' '^EngineArguments\.'
  engine/command_line.cpp 's/c == .\\t. || //' '^EngineArguments\.'
  server/methods/engine_command_line.cpp 's/line += L"\\" ";/line += L"\\"";/' '^ServerTexts\.'
  server/methods/engine_command_line.cpp 's/ file is not exist\./ file does not exist./' '^ServerTexts\.'
  server/host/lifetime_policy.cpp 's/>= 10ull \*/>= 11ull */' 'LifetimeDecisions'
  server/host/lifetime_policy.cpp 's/wasIdle_ ? idleSince_ : facts.now, facts.lastRelease/wasIdle_ ? idleSince_ : facts.now, idleSince_/' 'LifetimeDecisions'
  server/methods/runtime_error.cpp 's/L"Error in loading DLL: "/L"Error loading DLL: "/' '^MethodStatus\.'
  server/methods/runtime_error.cpp 's/: L"Can.t find DLL entry point " + detail/: L"Cannot find DLL entry point " + detail/' '^MethodStatus\.'
  server/methods/debug_log.h 's/return \*isDebug_ != VARIANT_FALSE;/return *isDebug_ == VARIANT_TRUE;/' '^InProcessObject\.'
  common/win/library_load.cpp 's/? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS/? LOAD_WITH_ALTERED_SEARCH_PATH/' '^LibraryAtPath\.'
  common/win/module_path.cpp 's/return longPath.empty() ? full : longPath;/return full;/' '^SelfCheckFacts\.'
  server/host/registration.cpp 's/if (found \&\& SameText(named, k.clsid))/if (found)/' '^ScratchClasses\.'
  server/host/registration.cpp 's/^    return SamePath(path, exe) ||$/    return path == exe ||/' '^ScratchClasses\.'
  server/host/main.cpp 's/^  return hr;$/  return FAILED(hr) ? S_OK : hr;/' '^RegistrationSwitches\.'
  server/host/user_report.cpp 's/win::ToAnsi(win::MarkUncarried(text))/win::ToAnsi(text)/' 'ScopeSwitches\.'
  server/host/self_check_facts.cpp 's/ReadText(inUser ? user.get() : machine.get(), name)/ReadText(inMachine ? machine.get() : user.get(), name)/' 'SelfCheckSwitch\.'
  common/win/pe_image.cpp 's/if (s == nullptr || rva - s->virtualAddress >= s->rawSize) return false;/if (s == nullptr) return false;/' '^PeImage\.'
  server/methods/run_cmd2.cpp 's/if (!complete) return OutOfMemory();/static_cast<void>(complete);/' '^MemoryShort\.'
  server/methods/run_cmd2.cpp 's/return MethodStatus::Failure(E_OUTOFMEMORY);/return MethodStatus::FromFailedCall(E_OUTOFMEMORY);/' '^MemoryShort\.'
  server/com/quandrel_com.cpp 's/wait != VARIANT_FALSE/wait == VARIANT_TRUE/' '^RunCmdTest\.'
  server/com/method_frame.h 's/if constexpr (std::is_same_v<T, BSTR>) \*slot = nullptr;/static_cast<void>(0);/' 'RunnerOutcome'
  server/methods/quandrel.cpp 's/^ *L" in " + engine_api::kLibraryFileNameW$/L" " + engine_api::kLibraryFileNameW/' '^QuandrelTest\.'
  server/methods/runtime_error.cpp 's/kErrorSource\[\] = L"Korvane.QuandrelCom"/kErrorSource[] = L"QuandrelCom"/' '^InProcessObject\.'
  server/methods/log_line.cpp 's/if (win::FindUncarried(line, codePage)) line = /if (win::FindUncarried(line, CP_UTF8)) line = /' 'ExactText'
  server/methods/run_cmd2.cpp 's/^  ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);/  \/\/ inherited/' 'ChildGetsTheCommandLine'
  server/methods/engine_command_line.cpp 's/if (data.dwFileAttributes \& FILE_ATTRIBUTE_DIRECTORY) return -1;/(void)0;/' '^QuandrelRunCmdTest\.Missing'
  server/host/registration.cpp 's/(IsFullyQualified(path) \&\& win::IsFile(path) \&\& win::IsFile(exe) \&\&/(false \&\& win::IsFile(exe) \&\&/' 'ShortAndLongSpellings'
  server/host/self_check_facts.cpp 's/first.image.defect == win::PeDefect::kNone \&\& first.image.machine == library.machine;/first.image.defect == win::PeDefect::kNone;/' '^SelfCheck\.Finds'
  server/host/self_check_facts.cpp 's/^          unusable.push_back({needed, name});/          (void)0;/' 'SelfCheckSwitch\.'
  server/host/registration.h 's/return exePath.size() >= MAX_PATH;/return exePath.size() > MAX_PATH;/' '^ScratchClasses\.Key'
  server/host/self_check.cpp 's/ || facts.program.isDll) {/) {/' 'SelfCheckSwitch\.'
  server/methods/engine_library.cpp 's/IsNotFound(loaded.error) || win::IsFolder(path)/IsNotFound(loaded.error)/' '^QuandrelTest\.Unusable'
  server/host/registration.cpp 's/^    KORVANE_RETURN_IF_FAILED(DeleteTree(at, path + L"\\\\" + subkey));/    (void)subkey;/' '^ScratchClasses\.'
  server/host/self_check.cpp 's/if (!value.found || value.from != RegistrationScope::kUser) return fix;/return fix;/' '^SelfCheck\.Gives'
  server/host/self_check_facts.cpp 's/^    if (redirected || IsImplementedApiSet(name)) {/    if ((redirected \&\& false) || IsImplementedApiSet(name)) {/' 'SelfCheckSwitch.*Assembly'
  server/host/self_check_facts.cpp 's/^          return lookUp(name, redirected, alsoSearched);/          return lookUp(name, redirected, {});/' 'SelfCheckSwitch.*EngineProgram'
  server/host/self_check_facts.cpp 's/^    facts.programUnusableLibraries = FindUnusableLibraries(/    facts.unusableLibraries = FindUnusableLibraries(/' 'SelfCheckSwitch.*EngineProgram'
  common/win/pe_image.cpp 's/if (value \& byOrdinal) continue;/(void)byOrdinal;/' '^PeImage\.'
  server/host/self_check_facts.cpp 's/if (!older.missingFunctions.empty()) unusable.push_back(std::move(older));/(void)older;/' 'SelfCheckSwitch.*OlderVersion'
  server/host/self_check_facts.cpp 's/at.image.defect != win::PeDefect::kNone || at.image.exportNames.empty() ||/at.image.defect != win::PeDefect::kNone ||/' '^SelfCheck\.Finds'
  server/host/self_check.cpp 's/      return machine == IMAGE_FILE_MACHINE_AMD64 || machine == IMAGE_FILE_MACHINE_I386;/      return true;/' 'SelfCheckSwitch.*MachineThisWindows'
  server/host/self_check.cpp 's/if (file.role != GuardedRole::kVolumeRoot) change |= DELETE;/change |= DELETE;/' '^SelfCheck\.WhoMay'
  server/host/self_check_facts.cpp 's/install.files.push_back(ReadGuardedFile(above\[i\]));/install.files.push_back(ReadGuardedFile(folder));/' '^SelfCheckFacts\.Install'
  server/host/self_check_facts.cpp 's/^    if (besideFirst) folders.push_back(folder);/    folders.push_back(folder);/' 'SelfCheckSwitch.*KnownLibrary'
  server/host/self_check_facts.cpp 's/^      create(\&block, token.get(), FALSE)) {/      false) {/' 'SelfCheckSwitch.*EngineProgram'
  common/win/pe_image.cpp 's/if (ZeroFilled(sections, static_cast<uint32_t>(entry))) break;  \/\/ reads as zeros/(void)ZeroFilled;/' '^PeImage\.'
  server/host/registration.cpp 's/holds == ValueHolds::kCommandLine ? ServerPathOf(value)/holds == ValueHolds::kPath ? ServerPathOf(value)/' '^ScratchClasses\.'
  common/win/ansi_text.cpp 's/::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, /::MultiByteToWideChar(codePage, 0, /' '^AnsiText\.'
  common/win/ansi_text.cpp 's/for (int back = 0; back < 3 \&\& /for (int back = 0; back < 0 \&\& /' '^AnsiText\.'
  server/methods/run_cmd2.cpp 's/if (log.enabled() \&\& !win::IsWholeText(bytes))/if (false)/' '^exact_text_cp932$'
  server/methods/log_line.cpp 's/if (win::FindUncarried(line, codePage)) line = /if (false) line = /' '^ServerTexts\.'
  server/methods/show_window.cpp 's/value > INT16_MAX/value >= INT16_MAX/' '^ShowWindow\.'
  server/host/server_switch.cpp 's/if (tokens.size() > 1) return ServerAction::kInvalid;/(void)0;/' '^ServerSwitch\.'
  server/host/server_switch.cpp 's/? commandLine.size() : close + 1;/? commandLine.size() : close;/' '^ServerSwitch\.'
  server/host/server_command.cpp 's/^      tried += L".exe";/      (void)0;/' '^SelfCheck\.ReadsLocalServer32'
  server/host/server_command.cpp 's/path->remove_prefix(4);/(void)0;/' '^SelfCheck\.ReadsLocalServer32|^ScratchClasses\.'
  common/win/ansi_path.cpp 's/if (!shortPath.empty() \&\& SurvivesCodePage(shortPath, codePage))/if (!shortPath.empty())/' '^AnsiSpelling\.'
  server/methods/run_cmd.cpp 's/DWORD waited = ::WaitForSingleObject(child.process.get(), INFINITE);/DWORD waited = WAIT_OBJECT_0;/' '^RunCmdTest\.'
  server/methods/quandrel_run_cmd.cpp 's/win::FindUncarried(arguments)/win::FindUncarried(std::wstring_view())/' 'ExactText'
  server/methods/message_pump.cpp 's/^      quit = msg.wParam;/      quit.reset();/' 'RunCmd2Pieces|RunCmd2Nested'
  server/methods/message_pump.cpp 's/^    return;$/    continue;/' 'RunCmd2Pieces'
  server/methods/output_capture.cpp 's/if (size > limit_ - bytes_.size())/if (size >= limit_ - bytes_.size())/' 'RunCmd2Pieces'
  server/methods/child_process.cpp 's/startup.hStdError = outputWriteEnd;/startup.hStdError = nullptr;/' 'RunnerOutcome|BothRunners'
  server/methods/debug_log.cpp 's/^ *win::BoolArg(false)});/win::BoolArg(true)});/' '^LogWriter\.'
  common/win/registry.cpp 's/static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;/static_cast<int>(b.size()), FALSE) == CSTR_EQUAL;/' '^ServerSwitch\.'
  server/com/server_lifetime.cpp 's/if (locks == 0) return false;/(void)0;/' '^ServerReferences\.'
  server/methods/message_pump.cpp 's/QS_ALLINPUT, MWMO_INPUTAVAILABLE);/QS_ALLINPUT, 0);/' 'RunCmd2Pieces|RunCmd2Nested'
  server/host/self_check_facts.cpp 's/^      if (!beside \&\& image.defect == win::PeDefect::kNone \&\&$/      if (false \&\&/' 'SelfCheckSwitch.*OneOfAnotherMachineType'
  server/host/self_check.cpp 's/^    if (facts.preferredServerBitness == ServerBitness::kEither) {/    if (false) {/' '^SelfCheck\.Gives|SelfCheckSwitch.*MissingView'
  server/host/self_check_facts.cpp 's/L"PreferredServerBitness", RRF_RT_ANY/L"PreferredServerBitnes", RRF_RT_ANY/' 'SelfCheckSwitch.*MissingViewWithAPreferred'
  server/host/self_check_facts.cpp 's/text += L";" + user + L")";/text += kSelf;/' '^SelfCheck\.Asks|SelfCheckSwitch.*Clean'
  server/host/self_check_facts.cpp 's/return !localFromRemote || (granted \& COM_RIGHTS_EXECUTE_LOCAL) != 0;/return (localFromRemote || true) \&\& (granted \& COM_RIGHTS_EXECUTE_LOCAL) != 0;/' '^SelfCheck\.Asks|SelfCheckSwitch.*OldKind'
  server/host/self_check_facts.cpp 's/facts.callPermission = ReadCallPermission(appId.get(), AppIdList::kAccess);/facts.callPermission = ReadCallPermission(nullptr, AppIdList::kAccess);/' 'SelfCheckSwitch.*AccessPermission'
  server/host/self_check_facts.cpp 's/fits(header.Dacl, 8, acl)/fits(0, 8, acl)/' '^SelfCheck\.Asks'
  server/host/server_loop.cpp 's/COMGLB_EXCEPTION_HANDLING, COMGLB_EXCEPTION_DONOT_HANDLE_ANY);/COMGLB_EXCEPTION_HANDLING, COMGLB_EXCEPTION_HANDLE);/' '^ComExceptionHandling\.'
  server/host/server_loop.cpp 's/if (msg.message == WM_QUIT) ::PostThreadMessageW(threadId, WM_QUIT,/if (false) ::PostThreadMessageW(threadId, WM_QUIT,/' '^Lifetime\.QuitPosted'
  server/com/class_factory.cpp 's/^  if (IsStopping()) return CO_E_SERVER_STOPPING;/  (void)0;/' '^ClassFactoryStopping\.'
  server/com/type_info.cpp 's/^  g_cached.reset();/  (void)0;/' '^InProcessObject\.TypeInformation'
  common/win/late_binding.cpp 's/reversed(args.rbegin(), args.rend());/reversed(args.begin(), args.end());/' '^LogWriter\.'
  common/win/pe_image.cpp 's/std::vector<Section> sections{{0, headersSize, headersSize, 0}};/std::vector<Section> sections;/' '^PeImage\.'
  server/host/self_check_facts.cpp 's/process == IMAGE_FILE_MACHINE_AMD64 \&\& file == IMAGE_FILE_MACHINE_ARM64);/file == IMAGE_FILE_MACHINE_ARM64);/' '^SelfCheck\.FindsEach'
  server/host/self_check_facts.cpp 's/(inSystemFolder \&\& windows == IMAGE_FILE_MACHINE_ARM64 \&\&/((inSystemFolder || windows != 0) \&\& windows == IMAGE_FILE_MACHINE_ARM64 \&\&/' '^SelfCheck\.FindsEach'
  server/host/self_check_facts.cpp 's/if (entry < 8 || entry > length - next) return SIZE_MAX;/if (entry < 4 || entry > length - next) return SIZE_MAX;/' '^SelfCheck\.AsksTheAppId'
  server/host/self_check_facts.cpp 's/if (entry < 8 || entry > length - next) return SIZE_MAX;/if (entry < 8) return SIZE_MAX;/' '^SelfCheck\.AsksTheAppId'
  server/host/self_check_facts.cpp 's/if (length < 8 || length > room) return SIZE_MAX;/if (length > room) return SIZE_MAX;/' '^SelfCheck\.AsksTheAppId'
  server/host/self_check_facts.cpp 's/const bool localFromRemote = listed \&\& TellsLocalFromRemote(list);/const bool localFromRemote = listed \&\& (*granted \& (COM_RIGHTS_EXECUTE_LOCAL | COM_RIGHTS_EXECUTE_REMOTE)) != 0;/' 'SelfCheckSwitch\..*AccessPermission'
  server/host/self_check.cpp 's/return \*named(KEY_WOW64_64KEY);/return view;/' '^SelfCheck\.'
  server/host/self_check_facts.cpp 's/type == REG_DWORD \&\& preferred == 3)/type == REG_DWORD \&\& preferred == 4)/' 'SelfCheckSwitch\..*MissingView'
  server/host/self_check_facts.cpp 's/DescriptorForCaller(text.get(), user, !launch)/DescriptorForCaller(text.get(), user, true)/' 'SelfCheckSwitch\..*LaunchPermission'
  server/host/self_check_facts.cpp 's/return !localFromRemote || (granted \& kLocal) == kLocal;/return !localFromRemote || (granted \& kLocal) != 0;/' '^SelfCheck\.AsksTheAppId'
)
count=$((${#mutants[@]} / 3))
chosen=("$@")
[ ${#chosen[@]} -gt 0 ] || mapfile -t chosen < <(seq 1 "$count")

scratch=$(mktemp -d)
restore() {
  # A fresh time stamp on the original, so the next build compiles it again.
  [ -z "${mutated:-}" ] || cp "$scratch/original" "$root/$mutated"
  mutated=
}
trap 'restore; rm -rf "$scratch"' EXIT
trap 'exit 130' INT TERM

caught=0 tried=0
korvane_wine_env "$build" x86_64
korvane_wine_start
for n in "${chosen[@]}"; do
  [[ "$n" =~ ^[0-9]+$ ]] && [ "$n" -ge 1 ] && [ "$n" -le "$count" ] ||
    { echo "mutate: no mutant $n (1 to $count)" >&2; exit 2; }
  file=${mutants[$(((n - 1) * 3))]} expr=${mutants[$(((n - 1) * 3 + 1))]}
  regex=${mutants[$(((n - 1) * 3 + 2))]}
  cp -p "$root/$file" "$scratch/original"
  mutated=$file
  sed -e "$expr" "$scratch/original" >"$root/$file"
  if [ "$(diff "$scratch/original" "$root/$file" | grep -c '^>' || true)" != 1 ]; then
    restore
    echo "mutate: mutant $n does not change exactly one line of $file" >&2
    exit 2
  fi
  verdict=missed
  if ! korvane_build x86_64 "$build" >"$scratch/build.log" 2>&1; then
    verdict="caught (build)"
  else
    [ -n "$(ctest --test-dir "$build" -N -R "$regex" | grep '^ *Test *#')" ] ||
      { restore; echo "mutate: mutant $n: no test matches $regex" >&2; exit 2; }
    ctest --test-dir "$build" -R "$regex" --timeout 600 >"$scratch/test.log" 2>&1 ||
      verdict="caught ($(sed -n 's/.*, \([0-9]* tests failed out of [0-9]*\)$/\1/p' "$scratch/test.log"))"
  fi
  restore
  tried=$((tried + 1))
  [ "$verdict" = missed ] || caught=$((caught + 1))
  echo "mutant $n, $file: $expr: $verdict"
done
korvane_wine_stop
echo "mutate: $caught of $tried mutants caught"
# The tree back to the product as it is.
korvane_build x86_64 "$build" >/dev/null
[ "$caught" -eq "$tried" ]
