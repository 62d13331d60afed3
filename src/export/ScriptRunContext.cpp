#include "export/ScriptRunContext.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "export/ObjectDefinitionText.h"
#include "sqltext/ScriptFiles.h"

namespace kestrane {

std::wstring ScriptRunContext::DefinitionText(int32_t objectId) const {
    return GetObjectDefinitionText(definitions, std::to_wstring(objectId), state.codePage);
}

bool ScriptRunContext::WriteScript(const std::wstring& relativePath, const std::wstring& text) {
    const std::wstring path = folder + L"/" + relativePath;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(NativePath(path)).parent_path(), ec);
    BinaryFile file;
    if (!file.open(NativePath(path), BinaryFile::Mode::CreateWrite)) {
        ReportUnopenedFile(path);
        return false;
    }
    if (!WriteByteOrderMark(file) || !WriteScriptText(file, text)) {
        ReportFailedFile(path);
        return false;
    }
    return true;
}

void ScriptRunContext::ReportUnopenedFile(const std::wstring& path) {
    log.Line(L"Can not open  File \" " + path + L" \"");
    failedFiles.push_back(path);
}

void ScriptRunContext::ReportFailedFile(const std::wstring& path) {
    if (std::find(failedFiles.begin(), failedFiles.end(), path) != failedFiles.end()) return;
    failedFiles.push_back(path);
    log.Line(L"Can not write  File \" " + path + L" \" : it is incomplete (is the disk full?)");
}

}  // namespace kestrane
