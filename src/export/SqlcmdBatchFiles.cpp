#include "export/SqlcmdBatchFiles.h"

#include <filesystem>
#include <system_error>

#include "platform/TextCodec.h"
#include "sqltext/ScriptFiles.h"

namespace kestrane {

namespace {

// The folder as sqlcmd's DIR, "kdir" of the head: "%~dp0" ends with "\", which would escape the
// closing quote for the program reading its arguments; "%~dp0." names the same folder.
constexpr const wchar_t* kDatabaseCommandWindows = L"sqlcmd -E -S %1 -v DBNAME=%2 -v DIR=\"%kdir%\" -i ";
constexpr const wchar_t* kDatabaseCommandSql = L"sqlcmd -U %1 -P %2 -S %3 -v DBNAME=%4 -v DIR=\"%kdir%\" -i ";
constexpr const wchar_t* kKeyCommandWindows = L"sqlcmd -E -S %1 -d %2 -i ";
constexpr const wchar_t* kKeyCommandSql = L"sqlcmd -U %1 -P %2 -S %3 -d %4 -i ";

}  // namespace

const wchar_t* const SqlcmdBatchFiles::kBatHead =
    L"@echo off\r\n"
    // DIR stands inside N'...' in the scripts: a quote in the folder's path is doubled.
    L"set \"kdir=%~dp0.\"\r\n"
    L"set \"kdir=%kdir:'=''%\"\r\n"
    L"set op1=false\r\n"
    L"set op2=false\r\n"
    L"if not \"%0\"==\"\" (if not \"%1\"==\"\" (if not \"%2\"==\"\" set op1=true))\r\n"
    L"if not \"%3\"==\"\" (if not \"%4\"==\"\" set op2=true)\r\n"
    // Three arguments, or more than four, are no call that the usage names: never guess which is which.
    L"if not \"%3\"==\"\" (if \"%4\"==\"\" goto label3)\r\n"
    L"if not \"%5\"==\"\" goto label3\r\n"
    L"if not \"%op1%\"==\"true\" goto label3\r\n"
    // The scripts are named from this folder, wherever the call comes from.
    L"pushd \"%~dp0\" || exit /b 1\r\n"
    // sqlcmd's error messages (-r0: level 11 and above) land there, to be shown and counted per script.
    L"set \"kerr=%TEMP%\\mainsqlscript-%RANDOM%.txt\"\r\n"
    L"if not defined TEMP set \"kerr=%~dp0mainsqlscript-errors.txt\"\r\n"
    L"set kfailed=0\r\n"
    L"if \"%op1%\"==\"true\" (if \"%op2%\"==\"true\" goto label2)\r\n"
    L"if \"%op1%\"==\"true\" (if \"%op2%\"==\"false\" goto label1)\r\n"
    L"goto label3 \r\n"
    L":label1";

const wchar_t* const SqlcmdBatchFiles::kBatUsage =
    L"\r\n:label3\r\necho.\r\necho Syntax:\r\n"
    L"echo\t^[^<user name^> ^<password^>^] ^<server name^> ^<database name^>\r\n"
    L"echo.\r\necho  Options:\r\necho.\r\n"
    L"echo    user name password : user name and password for SQL Server^(for SQL Server Aut"
    L"                        hentication^)\r\n"
    L"echo.\r\necho    server name        : instance of SQL Server to which to connect\r\n"
    L"echo.\r\necho    database name      : name of database to which data will be exported\r\n"
    L"echo.\r\necho    Warning: a database of that name is DROPPED first, with all its data, then created anew.\r\n"
    L"echo    Never give the name of a database you want to keep.\r\n"
    L"echo.\r\nexit /b 1\r\n:end";

// Where the script lines go on: the database script's failure ends the run before any table script; a
// later script that failed or had statements refused is named, and makes the run's exit status 1.
const wchar_t* const SqlcmdBatchFiles::kBatEnd =
    L"\r\n:failed\r\necho The database script failed: no table script was run.\r\npopd\r\nexit /b 1"
    L"\r\n:done\r\npopd\r\nif exist \"%kerr%\" del \"%kerr%\""
    L"\r\nif \"%kfailed%\"==\"1\" (echo mainsqlscript.bat: not every script ran cleanly, see the scripts named "
    L"above.& exit /b 1)"
    L"\r\ngoto end"
    // After each script: %1 is sqlcmd's exit status, kscript the script, kerr its error messages.
    L"\r\n:checked\r\ntype \"%kerr%\" 1>&2\r\nset kcount=0"
    L"\r\nfor /f %%n in ('findstr /b /c:\"Msg \" \"%kerr%\" ^| find /c /v \"\"') do set kcount=%%n"
    L"\r\nif not \"%1\"==\"0\" (set kfailed=1& echo mainsqlscript.bat: \"%kscript%\" failed.)"
    L"\r\nif not \"%kcount%\"==\"0\" (set kfailed=1& echo mainsqlscript.bat: the server refused %kcount% "
    L"statements of \"%kscript%\".)"
    L"\r\nexit /b 0";

const char* const SqlcmdBatchFiles::kShellHead =
    "#!/bin/sh\n"
    "# Runs the scripts of this folder with sqlcmd, in the order they were written.\n"
    "# Warning: the database named is DROPPED first, with all its data, then created anew.\n"
    "if [ $# -ne 2 ] && [ $# -ne 4 ]; then\n"
    "  echo\n"
    "  echo 'Syntax:'\n"
    "  echo '\t[<user name> <password>] <server name> <database name>'\n"
    "  echo\n"
    "  echo ' Options:'\n"
    "  echo\n"
    "  echo '   user name password : user name and password for SQL Server(for SQL Server Authentication)'\n"
    "  echo\n"
    "  echo '   server name        : instance of SQL Server to which to connect'\n"
    "  echo\n"
    "  echo '   database name      : name of database to which data will be exported'\n"
    "  echo\n"
    "  echo '   Warning: a database of that name is DROPPED first, with all its data, then created anew.'\n"
    "  echo '   Never give the name of a database you want to keep.'\n"
    "  echo\n"
    "  exit 1\n"
    "fi\n"
    "if ! command -v sqlcmd >/dev/null 2>&1; then\n"
    "  echo 'mainsqlscript.sh: sqlcmd not found: install the SQL Server command-line tools and put sqlcmd on "
    "the PATH.' >&2\n"
    "  exit 127\n"
    "fi\n"
    "cd \"$(dirname \"$0\")\" || exit 1\n"
    "# DIR stands inside N'...' in the scripts: a quote in the folder's path is doubled.\n"
    "DIR=$(pwd | sed \"s/'/''/g\")\n"
    "if [ $# -eq 4 ]; then\n"
    "  login_user=$1 login_password=$2 server=$3 database=$4\n"
    "  database_script() { sqlcmd -U \"$login_user\" -P \"$login_password\" -S \"$server\" -v DBNAME=\"$database\" "
    "-v DIR=\"$DIR\" -i \"$1\"; }\n"
    "  key_script() { sqlcmd -U \"$login_user\" -P \"$login_password\" -S \"$server\" -d \"$database\" -i \"$1\"; }\n"
    "else\n"
    "  server=$1 database=$2\n"
    "  database_script() { sqlcmd -E -S \"$server\" -v DBNAME=\"$database\" -v DIR=\"$DIR\" -i \"$1\"; }\n"
    "  key_script() { sqlcmd -E -S \"$server\" -d \"$database\" -i \"$1\"; }\n"
    "fi\n"
    "# Without the database no table script may run (each would run in the login's default database).\n"
    "# Any other script that sqlcmd ends with an error, or in which the server refused statements (its\n"
    "# \"Msg n, Level 11\" and higher), is named; the next script runs, and the exit status is 1.\n"
    "status=0\n"
    "failed=''\n"
    "ktemp=$(mktemp -d) || exit 1\n"
    "trap 'rm -rf \"$ktemp\"' EXIT\n"
    "trap 'exit 1' HUP INT TERM\n"
    "create_database() {\n"
    "  database_script \"$1\" || { echo \"mainsqlscript.sh: $1 failed: no table script was run.\" >&2; exit 1; }\n"
    "}\n"
    "# sqlcmd's output passes through; its status and the server's error messages are kept for the script.\n"
    "checked() {\n"
    "  script=$1\n"
    "  shift\n"
    "  { \"$@\"; echo \"$?\" > \"$ktemp/status\"; } |\n"
    "    kcount=\"$ktemp/refused\" awk '{ print } /^Msg [0-9]+, Level (1[1-9]|[2-9][0-9]),/ { n++ }\n"
    "      END { print n + 0 > ENVIRON[\"kcount\"] }'\n"
    "  refused=$(cat \"$ktemp/refused\")\n"
    "  if [ \"$(cat \"$ktemp/status\")\" -ne 0 ]; then\n"
    "    echo \"mainsqlscript.sh: $script failed.\" >&2\n"
    "  elif [ \"$refused\" -eq 0 ]; then\n"
    "    return 0\n"
    "  fi\n"
    "  [ \"$refused\" -eq 0 ] || echo \"mainsqlscript.sh: the server refused $refused statements of $script.\" >&2\n"
    "  status=1\n"
    "  failed=\"$failed $script\"\n"
    "}\n"
    "run_database_script() { checked \"$1\" database_script \"$1\"; }\n"
    "run_key_script() { checked \"$1\" key_script \"$1\"; }\n";

const char* const SqlcmdBatchFiles::kShellEnd =
    "if [ \"$status\" -ne 0 ]; then\n"
    "  echo \"mainsqlscript.sh: not every script ran cleanly:$failed\" >&2\n"
    "fi\n"
    "exit $status\n";

std::wstring BatQuotedPath(const std::wstring& relativePath) {
    std::wstring out = L"\"";
    for (wchar_t c : relativePath) {
        if (c == L'/') out += L'\\';
        else if (c == L'%') out += L"%%";
        else out += c;
    }
    return out + L"\"";
}

std::string ShellQuotedPath(const std::wstring& relativePath) {
    std::string out = "'";
    for (char c : WideToUtf8(relativePath)) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

SqlcmdBatchFiles::SqlcmdBatchFiles(const std::wstring& folder, int codePage)
    : folder_(folder), batPath_(folder + L"/mainsqlscript.bat"), shellPath_(folder + L"/mainsqlscript.sh"),
      codePage_(codePage) {}

const std::wstring& SqlcmdBatchFiles::PlatformPath() const {
#ifdef _WIN32
    return batPath_;
#else
    return shellPath_;
#endif
}

bool SqlcmdBatchFiles::Open() {
    if (!bat_.open(NativePath(batPath_), BinaryFile::Mode::CreateWrite)) {
        failures_.push_back(batPath_);
        return false;
    }
    if (!shell_.open(NativePath(shellPath_), BinaryFile::Mode::CreateWrite)) {
        failures_.push_back(shellPath_);
        return false;
    }
    std::error_code ec;
    std::filesystem::permissions(NativePath(shellPath_), std::filesystem::perms::owner_exec |
                                     std::filesystem::perms::group_exec | std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add, ec);
    labelTwo_ = {L"\r\n:label2"};
    WriteBat(kBatHead);
    WriteShell(kShellHead);
    return true;
}

void SqlcmdBatchFiles::AddCreateDatabaseScript(const std::wstring& relativePath) {
    AddScript(relativePath, Kind::CreateDatabase);
}

void SqlcmdBatchFiles::AddDatabaseScript(const std::wstring& relativePath) { AddScript(relativePath, Kind::Database); }

void SqlcmdBatchFiles::AddKeyScript(const std::wstring& relativePath) { AddScript(relativePath, Kind::Key); }

void SqlcmdBatchFiles::AddScript(const std::wstring& relativePath, Kind kind) {
    const bool database = kind != Kind::Key;
    const std::wstring quoted = BatQuotedPath(relativePath);
    // Every script but the database's is checked: its status and the error messages sqlcmd wrote.
    const std::wstring before = kind == Kind::CreateDatabase ? L"" : L"\r\nset \"kscript=" + quoted.substr(1);
    const std::wstring after = kind == Kind::CreateDatabase ? L" || goto failed"
                                                            : L" -r0 2>\"%kerr%\"\r\ncall :checked %errorlevel%";
    const std::wstring windows = database ? kDatabaseCommandWindows : kKeyCommandWindows;
    const std::wstring sql = database ? kDatabaseCommandSql : kKeyCommandSql;
    WriteBat(before + L"\r\n" + windows + quoted + after);
    labelTwo_.push_back(before + L"\r\n" + sql + quoted + after);
    const char* call = kind == Kind::CreateDatabase ? "create_database " : database ? "run_database_script " : "run_key_script ";
    WriteShell(call + ShellQuotedPath(relativePath) + "\n");
}

void SqlcmdBatchFiles::Finish() {
    if (!bat_.isOpen() && !shell_.isOpen()) return;
    WriteBat(L"\r\ngoto done");
    for (const std::wstring& line : labelTwo_) WriteBat(line);
    WriteBat(L"\r\ngoto done");
    WriteBat(kBatEnd);
    WriteBat(kBatUsage);
    WriteShell(kShellEnd);
    bat_.close();
    shell_.close();
}

void SqlcmdBatchFiles::WriteBat(const std::wstring& text) {
    // A piece that does not convert is left out, as the batch writer always did; a failed write is not.
    const std::optional<std::string> bytes = CStringToAnsi(text, codePage_);
    if (bytes && !bat_.write(bytes->data(), bytes->size()) && !batFailed_) {
        batFailed_ = true;
        failures_.push_back(batPath_);
    }
}

void SqlcmdBatchFiles::WriteShell(const std::string& text) {
    if (!text.empty() && !shell_.write(text.data(), text.size()) && !shellFailed_) {
        shellFailed_ = true;
        failures_.push_back(shellPath_);
    }
}

}  // namespace kestrane
