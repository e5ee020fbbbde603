// End-to-end: the options before the picture and in "Glumix_options.ini",
// frame names, natural order, where "patterns.xml" goes and how text lines
// end, through the built tool. Runs without options must stay what they
// were before there were options.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>

#include "png_oracle.h"
#include "support/gif_builder.h"
#include "support/pictures.h"
#include "support/process.h"

using namespace glxtest;
namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

// Every file under folder (name and bytes), sorted, with what the run
// printed and its status; the folder's own path is replaced, so the record
// does not depend on where the test runs.
std::string record(const RunResult& r, const fs::path& folder) {
    auto normal = [&](std::string text) {
        const std::string root = folder.string();
        for (size_t at; (at = text.find(root)) != std::string::npos;) text.replace(at, root.size(), "<T>");
        return text;
    };
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file()) files.push_back(fs::relative(e.path(), folder).string());
    std::sort(files.begin(), files.end());
    std::string rec = std::to_string(r.status) + "\n" + normal(r.out) + "\n" + normal(r.err) + "\n";
    for (const auto& f : files) rec += f + "\n" + readFile(folder / f) + "\n";
    return rec;
}

uint64_t fnv1a(const std::string& bytes) {
    uint64_t h = 14695981039346656037ull;
    for (char c : bytes) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return h;
}

// The runs of the no-options check: each builds its folder and runs the tool
// with the given options in front of its own arguments.
struct Scenario {
    const char* name;
    uint64_t digest;  // of the record made by the tool before options existed
    void (*build)(const TempFolder& t);
    std::vector<std::string> (*args)(const TempFolder& t);
    const char* input = "";
    int runs = 1;  // a second run appends to "patterns.xml"
};

void bitmaps(const TempFolder& t) {
    for (int i = 0; i < 5; ++i) writeFile(t / ("p" + std::to_string(i) + ".bmp"), noiseBmp(7 + i, 5, uint32_t(i)));
}
void mixed(const TempFolder& t) {
    bitmaps(t);
    writeFile(t / "q10.png", noisePng(6, 9, 3));
    writeFile(t / "q2.png", noisePng(3, 4, 4));
    writeFile(t / "patterns.xml.txt", "hero\r\ntree & \"rock\"\r\n");
}
void pasteFolder(const TempFolder& t) {
    writePng((t / "pattern.png").string(), solidRgba(20, 10, Rgba{255, 255, 255, 255}));
    writePng((t / "frag.png").string(), solidRgba(4, 3, Rgba{200, 0, 0, 128}));
    writeFile(t / "Glumix_paste.ini", "2\r\nfrag.png\r\n3;4;1\r\nfrag.png\r\n");
}
void gifFolder(const TempFolder& t) {
    GifFrame a, b;
    a.width = b.width = 2;
    a.height = b.height = 2;
    a.indices = {0, 1, 1, 0};
    b.indices = {1, 1, 0, 0};
    a.delay = 7;
    b.delay = 0;
    writeFile(t / "walk.gif", makeGif(2, 2, {0, 0, 0, 255, 255, 255}, {a, b}));
}
void weirdFolder(const TempFolder& t) {
    writeFile(t / "--weird.bmp", noiseBmp(3, 3, 5));
    writeFile(t / "b.bmp", noiseBmp(2, 2, 6));
}
void brokenFolder(const TempFolder& t) {
    bitmaps(t);
    writeFile(t / "p3.bmp", "BM not really");
}

const Scenario kScenarios[] = {
    {"bitmaps-h2", 0x2eba7ad764a4902eull, bitmaps,
     [](const TempFolder& t) {
         return std::vector<std::string>{(t / "p0.bmp").string(), "H2", "out.bmp"};
     }},
    {"mixed-v3-twice", 0x3c03a66412db7a80ull, mixed,
     [](const TempFolder& t) {
         return std::vector<std::string>{(t / "q2.png").string(), "V3", "sheet.png"};
     },
     "", 2},
    {"asked", 0xc0d74bbe75318346ull, bitmaps,
     [](const TempFolder& t) {
         return std::vector<std::string>{(t / "p1.bmp").string(), "H0", "out.bmp"};
     },
     "y\n2\n"},
    {"paste", 0xbe8830587a46be15ull, pasteFolder,
     [](const TempFolder& t) {
         return std::vector<std::string>{(t / "pattern.png").string(), "H3"};
     }},
    {"gif", 0x40b95043862a8931ull, gifFolder,
     [](const TempFolder& t) { return std::vector<std::string>{(t / "walk.gif").string()}; }},
    {"dash-file", 0x53f10b02f31d475aull, weirdFolder,
     [](const TempFolder&) {
         return std::vector<std::string>{"--weird.bmp", "H2", "out.bmp"};
     }},
    {"broken", 0x3faa11165a50f454ull, brokenFolder,
     [](const TempFolder& t) {
         return std::vector<std::string>{(t / "p0.bmp").string(), "H2", "out.bmp"};
     }},
};

RunResult runScenario(const Scenario& s, const TempFolder& t, const std::vector<std::string>& front,
                      const std::string& binary) {
    s.build(t);
    std::vector<std::string> args = front;
    for (auto& a : s.args(t)) args.push_back(a);
    RunResult r;
    for (int i = 0; i < s.runs; ++i) r = runTool(args, s.input, t.path, binary);
    return r;
}

}  // namespace

// GLX_BASELINE_BINARY=<a build from before the options> prints the digests
// of that build, to renew the table when a described behaviour changes.
TEST(NoOptions, RunsStayByteForByteWhatTheyWere) {
    const char* baseline = std::getenv("GLX_BASELINE_BINARY");
    for (const auto& s : kScenarios) {
        TempFolder t;
        const RunResult r = runScenario(s, t, {}, baseline ? baseline : GLX_BINARY);
        const std::string rec = record(r, t.path);
        char hex[32];
        std::snprintf(hex, sizeof hex, "0x%016llxull", static_cast<unsigned long long>(fnv1a(rec)));
        if (baseline) {
            std::printf("%s %s\n", s.name, hex);
            continue;
        }
        EXPECT_EQ(fnv1a(rec), s.digest) << s.name << " now gives " << hex << "\n" << rec.substr(0, 600);
        // A "--" in front (no options at all) changes nothing either.
        TempFolder u;
        EXPECT_EQ(record(runScenario(s, u, {"--"}, GLX_BINARY), u.path), rec) << s.name;
    }
}

TEST(OptionsE2E, BadOptionsEndWithStatusTwoAndWriteNothing) {
    struct Case {
        std::vector<std::string> front;
        std::string line;
    } cases[] = {
        {{"--atlas=jsn"}, "glumixer: unknown option \"--atlas=jsn\"; formats: json, json-array, godot, libgdx, css\n"},
        {{"--atlas=json", "--padding=-1"},
         "glumixer: unknown option \"--padding=-1\"; padding: a whole number from 0 to 4096\n"},
        {{"--max-size=0"}, "glumixer: unknown option \"--max-size=0\"; max-size: a whole number from 1 to 16384\n"},
        {{"--sort=random"}, "glumixer: unknown option \"--sort=random\"; orders: alphabetical, natural\n"},
        {{"--trim", "--"}, "glumixer: no picture after the options\n"},
    };
    for (const auto& c : cases) {
        TempFolder t;
        bitmaps(t);
        const auto before = entries(t.path);
        std::vector<std::string> args = c.front;
        if (c.front.back() != "--") args.insert(args.end(), {(t / "p0.bmp").string(), "H2", "out.bmp"});
        const RunResult r = runTool(args, "", t.path);
        EXPECT_EQ(r.status, 2) << c.line;
        EXPECT_EQ(r.err, c.line);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(entries(t.path), before) << c.line;
    }
}

TEST(OptionsE2E, TheOptionsFileIsReadAndTheCommandLineWins) {
    TempFolder t;
    for (int i : {10, 2, 1}) writeFile(t / ("f" + std::to_string(i) + ".bmp"), noiseBmp(2, 2, uint32_t(i)));
    writeFile(t / "Glumix_options.ini", "# sheets for the engine\nsort=natural\natlas=json\nnames=stem\n");
    RunResult r = runTool({(t / "f1.bmp").string(), "H3", "out.bmp"}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    const Json json = Json::parse(readFile(t / "out.json"));
    EXPECT_EQ(json["frames"]["f10"]["frame"]["x"], 4);  // natural: f1 f2 f10
    EXPECT_EQ(json["meta"]["image"], "out.bmp");

    fs::remove(t / "out.json");
    fs::remove(t / "patterns.xml");
    r = runTool({"--sort=alphabetical", "--names=file", (t / "f1.bmp").string(), "H3", "out.bmp"}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Json::parse(readFile(t / "out.json"))["frames"]["f10.bmp"]["frame"]["x"], 2);  // f1 f10 f2

    // An unknown key: the error report names the file and the key, and
    // nothing is written.
    fs::remove_all(t / "out.json");
    fs::remove(t / "out.bmp");
    fs::remove(t / "patterns.xml");
    writeFile(t / "Glumix_options.ini", "atlas=json\npading=2\n");
    const auto before = entries(t.path);
    r = runTool({(t / "f1.bmp").string(), "H3", "out.bmp"}, "", t.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Unknown key \"pading\" in \"" + (t / "Glumix_options.ini").string() + "\""),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Tech code: #21"), std::string::npos) << r.err;
    EXPECT_EQ(entries(t.path), before);
}

TEST(OptionsE2E, FramesAreNamedByFileNamesFileAndNeverTwiceAlike) {
    TempFolder t;
    for (int i = 0; i < 12; ++i) writeFile(t / (std::to_string(i) + ".bmp"), noiseBmp(3, 2, uint32_t(i)));
    writeFile(t / "5.png", noisePng(3, 2, 99));  // stem "5" twice
    // Lines of the names file come first; an empty line or a missing one
    // leaves the file's name; a repeated line is made unique.
    writeFile(t / "patterns.xml.txt", "start\r\n\r\nstart\r\n");
    RunResult r = runTool({"--sort=natural", "--names=stem", "--atlas=json-array", "--newline=lf",
                           (t / "0.bmp").string(), "H20", "sheet.png"},
                          "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    const Json json = Json::parse(readFile(t / "sheet.json"));
    std::vector<std::string> names;
    for (const auto& f : json["frames"]) names.push_back(f["filename"]);
    EXPECT_EQ(names, (std::vector<std::string>{"start", "1", "start~2", "3", "4", "5", "5~2", "6", "7", "8", "9", "10",
                                               "11"}));
    EXPECT_EQ(json["meta"]["format"], "RGBA8888");
    // "patterns.xml" carries the same names in the same order, LF ended.
    const std::string xml = readFile(t / "patterns.xml");
    EXPECT_EQ(xml.find('\r'), std::string::npos);
    EXPECT_EQ(xml.rfind("<?xml version=\"1.0\"?>\n<patterns>\n<pattern name=\"start\" x=\"0\"", 0), 0u) << xml;
    EXPECT_NE(xml.find("<pattern name=\"11\" x=\"36\" y=\"0\" width=\"3\""), std::string::npos) << xml;
    EXPECT_EQ(readFile(t / "sheet.json").find('\r'), std::string::npos);

    // File names that are not UTF-8 keep apart in the JSON.
    TempFolder u;
    writeFile(u / "x\xff.bmp", noiseBmp(2, 2, 1));
    writeFile(u / "x\xfe.bmp", noiseBmp(2, 2, 2));
    r = runTool({"--atlas=json", (u / "x\xff.bmp").string(), "H2", "s.bmp"}, "", u.path);
    ASSERT_EQ(r.status, 0) << r.err;
    const Json bytes = Json::parse(readFile(u / "s.json"));
    EXPECT_TRUE(bytes["frames"].contains("x\\xFE.bmp")) << bytes.dump();
    EXPECT_TRUE(bytes["frames"].contains("x\\xFF.bmp")) << bytes.dump();
}

TEST(OptionsE2E, PatternsGoElsewhereOrNowhereAndDelaysFollowTheLineEnds) {
    TempFolder t;
    fs::create_directories(t / "theme");
    fs::create_directories(t / "out");
    bitmaps(t);
    for (const auto& e : fs::directory_iterator(t.path))
        if (e.path().extension() == ".bmp") fs::rename(e.path(), t / "theme" / e.path().filename());
    RunResult r = runTool({"--patterns=out/atlas.xml", "--atlas=css", (t / "theme" / "p0.bmp").string(), "H5",
                           (t / "out" / "icons.bmp").string()},
                          "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(fs::exists(t / "theme" / "patterns.xml"));
    EXPECT_EQ(readFile(t / "out" / "atlas.xml").rfind("<?xml version=\"1.0\"?>\r\n<patterns>\r\n", 0), 0u);
    EXPECT_EQ(
        readFile(t / "out" / "icons.css").rfind(".sprite-p0_bmp { background: url(icons.bmp) 0 0; width: 7px;", 0), 0u);

    r = runTool({"--patterns=none", (t / "theme" / "p0.bmp").string(), "H5", (t / "out" / "b.bmp").string()}, "",
                t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(entries(t / "theme").size(), 5u);  // the pictures alone

    gifFolder(t);
    r = runTool({"--newline=lf", (t / "walk.gif").string()}, "", t.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(t / "walk" / "delays.txt"), "7\n1\n");
}
