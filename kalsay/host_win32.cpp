// kalsay's system seam on Windows, and its text conversions.
#include <windows.h>
#include <shellapi.h>

#include <cstring>

#include "kalsay/host.h"
#include "kalsay/text.h"

static_assert(sizeof(wchar_t) == 2, "arguments are UTF-16 code units");

std::string HostOwnFolder() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

std::vector<std::wstring> HostArguments(int, char**) {
    std::vector<std::wstring> args;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!argv) return args;
    for (int i = 1; i < count; ++i) args.push_back(argv[i]);
    LocalFree(argv);
    return args;
}

void HostPrepareConsole() { SetConsoleOutputCP(CP_UTF8); }

bool HostInputIsTerminal() { return GetFileType(GetStdHandle(STD_INPUT_HANDLE)) == FILE_TYPE_CHAR; }

bool HostReadProfileString(const char* section, const char* key, const std::string& file, std::string& value) {
    // A default no profile value can hold tells a missing key from an empty one.
    const char kMissing[] = "\x01";
    char buffer[256];
    GetPrivateProfileStringA(section, key, kMissing, buffer, sizeof buffer, file.c_str());
    if (strcmp(buffer, kMissing) == 0) return false;
    value = buffer;
    return true;
}

bool HostWriteProfileString(const char* section, const char* key, const char* value, const std::string& file) {
    return WritePrivateProfileStringA(section, key, value, file.c_str()) != 0;
}

std::string ToCodePage(const std::wstring& text, unsigned codePage) {
    if (text.empty()) return std::string();
    int size = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

namespace {
bool Convert(const std::string& text, unsigned codePage, DWORD flags, std::wstring& out) {
    out.clear();
    if (text.empty()) return true;
    int size = MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (size <= 0) return false;
    out.resize(size);
    return MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), &out[0], size) == size;
}
}  // namespace

std::wstring FromCodePage(const std::string& text, unsigned codePage) {
    std::wstring out;
    Convert(text, codePage, 0, out);
    return out;
}

std::wstring FromInputLine(const std::string& line) {
    std::wstring out;
    if (Convert(line, CP_UTF8, MB_ERR_INVALID_CHARS, out)) return out;
    return FromCodePage(line, CP_ACP);
}

std::string Utf8(const std::wstring& text) { return ToCodePage(text, CP_UTF8); }

std::string Utf8FromAnsi(const char* text) {
    if (!text) return "(null)";
    return Utf8(FromCodePage(text, CP_ACP));
}
