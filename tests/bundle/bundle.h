// What the parts of windows_tests share: the machine's folders, one result a line, the journal of
// what the run makes, and the programs it starts.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace bundle {

extern const char WaitLine[];
extern const wchar_t ProductCode[];
extern const wchar_t NeighbourCode[];
extern const char* const Bundles[2];

// Wine's ntdll has an export that Windows' has not.
extern const bool UnderWine;
std::wstring Environment(const wchar_t* name);
std::wstring Folder(const std::wstring& path);
extern const std::wstring Here;  // the bundle's folder
extern const std::wstring Windows, SystemDirectory, Scratch, JournalPath;
// The machine's folders, and the product folders the test packages install to: read by
// ReadMachineFolders, once any prefix value an interrupted run changed is put back.
extern std::wstring ProgramFiles, ProgramData, ProductFolders[4];
void ReadMachineFolders();

// Results: "ok   WHAT" or "FAIL WHAT" with the detail indented below it.
void Check(const std::string& what, bool ok, const std::string& detail = "");
void Expect(const std::string& what, const std::string& actual, const std::string& expected);
void Skip(const std::string& part, int count, const std::string& why);
int Passed();
int Failed();
int Skipped();

std::string Narrow(const std::wstring& text);
bool Exists(const std::wstring& path);
std::string ReadText(const std::wstring& path);  // without carriage returns; empty when absent
std::string Trimmed(std::string text);
std::string Hex(DWORD value);
std::wstring Quoted(const std::wstring& path);

// The journal: one line for each thing the run is about to make or change, written before it.
void Journal(const std::string& kind, const std::wstring& what);
void ForgetJournal();  // after the journal itself was deleted
bool Own(const std::wstring& path);  // a file the run (or a program it starts) writes: journaled
bool MakeFolders(const std::wstring& path);
void WriteText(const std::wstring& path, const std::string& text);
void CopyOwn(const std::wstring& from, const std::wstring& to);

// Under Wine only, a value of the prefix's registry: the machine's folders, which Wine copies into
// every process it starts, and Wine's own choice of msiexec.exe. The original is journaled first;
// nullptr deletes it. PutBackPrefixValue restores one as it was, PutBackPrefixValues every one.
// The key must exist.
struct PrefixValue {
    HKEY root;
    const wchar_t* key;
    const wchar_t* name;
};
extern const PrefixValue ProgramFilesDir, ProfileProgramData, MsiexecLoadOrder;
void SetPrefixValue(const PrefixValue& value, const wchar_t* data);
void PutBackPrefixValue(const PrefixValue& value);
void PutBackPrefixValues();
bool PutBackJournaledValues();  // those an earlier run's journal names; false when one stays
// An interrupted run's last line, cut short, names what was not made yet; the lines this run
// appends must not join it. False when it cannot be taken off.
bool DropCutLine();
// Under Wine only, the system directory's msiexec.exe replaced by the recorder, the original kept
// in the scratch folder; and put back.
extern const std::wstring SystemMsiexec;
void ReplaceSystemMsiexec();
void PutBackSystemMsiexec();

// Puts back everything the journal names; the journal goes only when nothing is left.
bool Restore(const std::string& who);
// What of a part's own ("e2e" or "behaviour") the machine holds already; or why that cannot be told.
std::string Found(const std::wstring& part);
// The part's registry trees and the ancestors it may create, those absent now, into the journal.
void JournalKeys(const std::wstring& part);
// Around a case: every key under HKLM\SOFTWARE before it, a link not followed; and those of them
// gone after it, outside the catalogue's rows and the journal's keys.
std::vector<std::wstring> KeysUnderSoftware();
std::string KeysGone(const std::vector<std::wstring>& before);

struct Ran {
    DWORD status = 0;
    std::string out, err;
};
// Runs a program with its output in journaled files of its own, in directory (the bundle's folder
// when empty), and waits for it. Each NAME=VALUE of settings replaces NAME in the environment it
// gets (%VARIABLES% in it expanded), and a NAME alone takes NAME away: what only a Windows parent
// can do, since Wine sets COMSPEC in every process it starts from Linux.
Ran Run(const std::wstring& program, const std::wstring& arguments, const std::wstring& directory = L"",
        const std::vector<std::wstring>& settings = {});
Ran Helper(const wchar_t* name, const std::wstring& arguments);
// A helper's answer, with its exit status and error output when it failed or said anything there.
std::string Answer(const Ran& ran);
bool Answered(const std::string& what, const Ran& ran);
std::string MsiState(const std::wstring& code);
DWORD Msiexec(const std::wstring& arguments);
void Registry(const std::string& what, const std::wstring& arguments);

// The end-to-end cases, Windows' and Wine's.
struct Case {
    const char* name;
    std::function<void()> run;
    enum { Anywhere, WindowsOnly, WineOnly } where = Anywhere;
};
extern const std::vector<Case> Cases;
bool RunsHere(const Case& each);

}  // namespace bundle
