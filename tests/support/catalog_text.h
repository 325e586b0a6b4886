// The text of a page catalogue (calibration.ini) as the tool's catalogue file holds it, built
// from a list of pages, for every test that needs a well-formed one. Tests of the catalogue
// parser itself keep their deliberately odd texts by hand.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zolt::test {

struct CatalogPage {
    std::string name;  // the section and the page's Msgstring
    int db = 0;
    int segment = 0;
    int offset = 0;
    int bytes = 0;
};

// The page read id the scripted phone answers (ScriptedPhone::PAGE_READ_ID).
inline constexpr int CATALOG_ETS_ID = 17;

// One section per page, read with `etsId`, then the count section.
inline std::string CatalogText(const std::vector<CatalogPage>& pages, int etsId = CATALOG_ETS_ID) {
    std::ostringstream ini;
    for (const CatalogPage& p : pages) {
        ini << "[" << p.name << "]\nETS, Id=" << etsId << "\nDB Id=" << p.db << "\nMsgstring=" << p.name
            << "\nSegment=" << p.segment << "\nOffset=" << p.offset << "\nBytes=" << p.bytes << "\n";
    }
    ini << "[MAXPAGECONUT]\nCount=" << pages.size() << "\n";
    return ini.str();
}

// Writes the catalogue into `folder` as calibration.ini, where the lines look for it, and
// returns its path.
inline std::string WriteCatalog(const std::filesystem::path& folder, const std::vector<CatalogPage>& pages,
                                int etsId = CATALOG_ETS_ID) {
    const std::filesystem::path file = folder / "calibration.ini";
    std::ofstream(file, std::ios::binary | std::ios::trunc) << CatalogText(pages, etsId);
    return file.string();
}

}  // namespace zolt::test
