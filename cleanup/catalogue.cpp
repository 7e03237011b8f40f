#include "cleanup/catalogue.h"

namespace CleanupCatalogue {

const char* const BundleIds[BundleCount] = {
    "{5307B30C-C252-350A-9AC4-2187A2492C94}",
    "{4A337600-F176-316C-BBE5-1D92826B6641}",
};

const WCHAR MsiProductCode[] = L"{4A4724E0-4100-0720-0000-C1F702640DB7}";

// Rows 1-10 name Windows Installer registrations by packed code, 11-17 the maker's own
// branch, 18-26 uninstall entries.
const WCHAR* const RegistryKeys[RegistryKeyCount] = {
    L"SOFTWARE\\Classes\\Installer\\Patches\\C102CF0CF34EEB7D6527209F76E5FB9C",
    L"SOFTWARE\\Classes\\Installer\\Patches\\D102CF0CF34EEB7D6527209F76E5FB9C",
    L"SOFTWARE\\Classes\\Installer\\Products\\0E4274A40014027000001C7F2046D07B",
    L"SOFTWARE\\Classes\\Installer\\Features\\0E4274A40014027000001C7F2046D07B",
    L"SOFTWARE\\Classes\\Installer\\UpgradeCodes\\1E4274A40014027000001C7F2046D07B",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\1E4274A40014027000001C7F2046D07B",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\E86EF7EACA76FB9488ED1C7F2046D07B",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Patches\\C102CF0CF34EEB7D6527209F76E5FB9C",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Patches\\D102CF0CF34EEB7D6527209F76E5FB9C",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\0E4274A40014027000001C7F2046D07B",
    L"SOFTWARE\\Morvanta\\OXB2\\{9A584C97-566D-4296-BE35-72A56611A622}",
    L"SOFTWARE\\Morvanta\\OXB2\\{57E1EB54-45E2-4D6B-B5CA-E0C06478BCAB}",
    L"SOFTWARE\\Morvanta\\OXB2\\{D3F53A1E-29D9-3F94-A3D9-CCF8DE584067}",
    L"SOFTWARE\\Morvanta\\OXB2\\{9B1F9C86-A62B-3E66-B92E-ED2F36402AF5}",
    L"SOFTWARE\\Morvanta\\OXB2\\{D7EDF1C2-AA1E-36C6-9A8A-48300F6376D6}",
    L"SOFTWARE\\Morvanta\\OXB2\\{B4C194D4-747F-366C-A3D9-63A0904FDB98}",
    L"SOFTWARE\\Morvanta\\OXB2\\{E1717981-4FAD-3235-ABC1-A1306E659E09}",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{333B92BB-5491-3AF3-B7C1-E200673A7AE0}",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{4344A992-02A4-306C-8466-7CFF8C489813}",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{4A337600-F176-316C-BBE5-1D92826B6641}",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{4A4724E0-4100-0720-0000-C1F702640DB7}",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{4C4C3AC1-0CE4-39BE-9AFC-65979B6227A9}",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{5307B30C-C252-350A-9AC4-2187A2492C94}",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{BA53A1B8-8AA8-329C-B124-A32E3D2CDAE9}",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{C3F1E5A4-1541-3456-9AB0-8BD4CE11A513}",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{D8B87D68-1FDA-3B3D-9C23-7115CA8252D0}",
};

}  // namespace CleanupCatalogue
