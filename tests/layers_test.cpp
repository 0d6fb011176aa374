// Every #include of the tree against cmake/layers.txt: a file may include its
// own layer and those its line names, Qt only where the line says "qt" (or,
// with "qtcore", only headers that QtCore's include folder holds), the sound
// library only in the file named by "pulse=", the HTTP library only in the
// file named by "curl=".
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Layer {
    std::set<std::string> uses;
    bool qt = false;
    std::string pulseFile;
    bool qtCoreOnly = false;
    std::string curlFile;
};

// QtCore's own headers ("QObject", "QtCore/qstring.h"); empty when unknown.
const fs::path kQtCoreDir = WL_QTCORE_DIR;

bool IsQtCoreHeader(const std::string& header, const fs::path& qtCoreDir) {
    const std::string name = header.rfind("QtCore/", 0) == 0 ? header.substr(7) : header;
    return name.find('/') == std::string::npos && fs::exists(qtCoreDir / name);
}

std::map<std::string, Layer> ReadTable(const fs::path& file) {
    std::map<std::string, Layer> table;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        std::string name, word;
        words >> name;
        Layer& layer = table[name];
        while (words >> word) {
            if (word == "qt") {
                layer.qt = true;
            } else if (word == "qtcore") {
                layer.qt = layer.qtCoreOnly = true;
            } else if (word.rfind("pulse=", 0) == 0) {
                layer.pulseFile = word.substr(6);
            } else if (word.rfind("curl=", 0) == 0) {
                layer.curlFile = word.substr(5);
            } else {
                layer.uses.insert(word);
            }
        }
    }
    return table;
}

// The offences in one file's include lines.
std::vector<std::string> Offences(const std::string& layerName, const std::map<std::string, Layer>& table,
                                  const std::string& relative, std::istream& source,
                                  const fs::path& qtCoreDir = kQtCoreDir) {
    static const std::regex kInclude(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])");
    const Layer& layer = table.at(layerName);
    std::vector<std::string> found;
    std::string line;
    for (int number = 1; std::getline(source, line); ++number) {
        std::smatch m;
        if (!std::regex_search(line, m, kInclude)) continue;
        const std::string header = m[2];
        const std::string where = relative + ":" + std::to_string(number) + ": " + header;
        const auto slash = header.find('/');
        const std::string top = slash == std::string::npos ? std::string() : header.substr(0, slash);
        if (m[1] == "\"" && table.count(top) && top != layerName && !layer.uses.count(top)) {
            found.push_back(where + " (" + layerName + " may not use " + top + ")");
        }
        if (m[1] == "<" && header[0] == 'Q' && !layer.qt) found.push_back(where + " (no Qt in " + layerName + ")");
        if (m[1] == "<" && header[0] == 'Q' && layer.qtCoreOnly && !qtCoreDir.empty() &&
            !IsQtCoreHeader(header, qtCoreDir)) {
            found.push_back(where + " (QtCore only in " + layerName + ")");
        }
        if (top == "pulse" && relative != layer.pulseFile) found.push_back(where + " (the sound library's headers)");
        if (top == "curl" && relative != layer.curlFile) found.push_back(where + " (the HTTP library's headers)");
    }
    return found;
}

TEST(Layers, NoFileIncludesAHigherLayer) {
    const fs::path root = WL_SOURCE_DIR;
    const auto table = ReadTable(root / "cmake/layers.txt");
    ASSERT_GE(table.size(), 6u) << "cmake/layers.txt is missing or short";
    int files = 0;
    std::vector<std::string> offences;
    for (const auto& [name, layer] : table) {
        ASSERT_TRUE(fs::is_directory(root / name)) << name;
        for (const auto& entry : fs::recursive_directory_iterator(root / name)) {
            const std::string ext = entry.path().extension().string();
            if (ext != ".h" && ext != ".cpp") continue;
            std::ifstream in(entry.path());
            const std::string relative = fs::relative(entry.path(), root).string();
            for (const std::string& o : Offences(name, table, relative, in)) offences.push_back(o);
            ++files;
        }
    }
    EXPECT_GT(files, 100);
    for (const std::string& o : offences) ADD_FAILURE() << o;
}

// The check itself: each kind of offence is caught, the allowed ones are not.
TEST(Layers, CatchesEachKindOfOffence) {
    std::map<std::string, Layer> table;
    table["decoder"] = {};
    table["engine"] = {{"decoder"}, false, "engine/pulse.cpp", false, "engine/http.cpp"};
    table["app"] = {{"decoder", "engine"}, true, "", false, ""};
    std::istringstream decoder("#include \"decoder/a.h\"\n#include <vector>\n#include \"engine/b.h\"\n#include <QString>\n");
    const auto d = Offences("decoder", table, "decoder/x.cpp", decoder);
    ASSERT_EQ(d.size(), 2u);
    EXPECT_NE(d[0].find("decoder/x.cpp:3: engine/b.h"), std::string::npos) << d[0];
    EXPECT_NE(d[1].find("no Qt"), std::string::npos) << d[1];
    std::istringstream engine("#  include <pulse/pulseaudio.h>\n#include \"app/form.h\"\n#include <curl/curl.h>\n");
    const auto e = Offences("engine", table, "engine/other.cpp", engine);
    ASSERT_EQ(e.size(), 3u);
    EXPECT_NE(e[2].find("engine/other.cpp:3: curl/curl.h (the HTTP library"), std::string::npos) << e[2];
    std::istringstream pulse("#include <pulse/pulseaudio.h>\n#include \"decoder/a.h\"\n#include <curl/curl.h>\n");
    const auto p0 = Offences("engine", table, "engine/pulse.cpp", pulse);
    ASSERT_EQ(p0.size(), 1u);
    EXPECT_NE(p0[0].find("HTTP library"), std::string::npos) << p0[0];
    std::istringstream http("#include <curl/curl.h>\n#include \"decoder/a.h\"\n");
    EXPECT_TRUE(Offences("engine", table, "engine/http.cpp", http).empty());
    std::istringstream app("#include <QWidget>\n#include \"engine/b.h\"\n#include \"gtest/gtest.h\"\n");
    EXPECT_TRUE(Offences("app", table, "app/w.cpp", app).empty());

    if (kQtCoreDir.empty()) GTEST_SKIP() << "QtCore's headers were not found: the qtcore rule is not checked";
    table["playback"] = {{"engine"}, true, "", true, ""};
    std::istringstream playback("#include <QObject>\n#include <QtCore/qstring.h>\n#include <QWidget>\n#include <QtGui/QColor>\n");
    const auto p = Offences("playback", table, "playback/c.cpp", playback);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_NE(p[0].find("playback/c.cpp:3: QWidget"), std::string::npos) << p[0];
    EXPECT_NE(p[1].find("QtCore only"), std::string::npos) << p[1];
}

}  // namespace
