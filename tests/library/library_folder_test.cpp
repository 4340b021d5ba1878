// The library folder: writers that race lose nothing, a bad file is left
// as it is, names stay inside the folder, files are replaced whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "koblib_codes.h"

namespace {

namespace fs = std::filesystem;

kobc_button necButton(const std::string& name, long function) {
    kobc_button b{};
    b.name = name.c_str();
    b.kind = KOBC_BUTTON_PROTOCOL;
    b.protocol = "NEC1";
    b.device = 4;
    b.subdevice = KOBC_NONE;
    b.function = function;
    b.toggle = KOBC_NONE;
    return b;
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Loaded {
    kobc_remotes* remotes = kobc_remotes_new();
    std::vector<std::string> problems;  // "file|message"
    int status = KOBC_OK;
    ~Loaded() { kobc_remotes_free(remotes); }
    size_t buttons(const char* remote) const {
        const long at = kobc_remotes_find(remotes, remote);
        return at < 0 ? 0 : kobc_remote_button_count(remotes, static_cast<size_t>(at));
    }
};

class LibraryFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::temp_directory_path() /
               ("kob-library-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        dir = (root / "remotes").string();
    }
    void TearDown() override { fs::remove_all(root); }

    int put(const char* remote, const std::string& button, long function, int replace = 0) {
        const kobc_button b = necButton(button, function);
        message[0] = '\0';
        return kobc_library_put_button(dir.c_str(), remote, &b, replace, message, sizeof message);
    }
    void load(Loaded& into) {
        into.status = kobc_library_load(
            dir.c_str(), into.remotes,
            [](void* context, const char* file, const char* why) {
                static_cast<Loaded*>(context)->problems.push_back(std::string(file) + "|" + why);
            },
            &into, message, sizeof message);
    }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path root;
    std::string dir;
    char message[512] = "";
};

TEST_F(LibraryFolder, TwoWritersAtOnceLoseNothing) {
    constexpr int kEach = 50;
    std::vector<std::thread> writers;
    std::vector<int> failures(2, 0);
    for (int w = 0; w < 2; ++w)
        writers.emplace_back([&, w] {
            for (int n = 0; n < kEach; ++n) {
                const std::string name = "B" + std::to_string(w) + "_" + std::to_string(n);
                const kobc_button b = necButton(name, n);  // b points into name
                char why[256];
                if (kobc_library_put_button(dir.c_str(), "tv", &b, 0, why, sizeof why) != KOBC_OK)
                    ++failures[w];
            }
        });
    for (auto& t : writers)
        t.join();
    EXPECT_EQ(failures, std::vector<int>({0, 0}));
    Loaded loaded;
    load(loaded);
    EXPECT_EQ(loaded.status, KOBC_OK) << message;
    EXPECT_EQ(loaded.buttons("tv"), 2u * kEach);
    EXPECT_TRUE(loaded.problems.empty());
}

TEST_F(LibraryFolder, BadFileIsReportedSkippedAndLeftAsItIs) {
    ASSERT_EQ(put("amp", "POWER", 1), KOBC_OK) << message;
    const fs::path bad = fs::path(dir) / "tv.ir";
    const std::string garbage = "Filetype: something else\nnot: a remote\n\x01\x02";
    std::ofstream(bad, std::ios::binary) << garbage;

    Loaded loaded;
    load(loaded);
    EXPECT_EQ(loaded.status, KOBC_OK);
    EXPECT_EQ(kobc_remotes_count(loaded.remotes), 1u);
    EXPECT_EQ(loaded.buttons("amp"), 1u);
    ASSERT_EQ(loaded.problems.size(), 1u);
    EXPECT_EQ(loaded.problems[0].substr(0, loaded.problems[0].find('|')), bad.string());

    // Every change of the bad remote fails with the reason; the file stays.
    const int putStatus = put("tv", "POWER", 2, 1);
    EXPECT_NE(putStatus, KOBC_OK);
    EXPECT_NE(std::string(message).find("tv.ir"), std::string::npos) << message;
    EXPECT_NE(kobc_library_rename(dir.c_str(), "tv", "POWER", "OFF", message, sizeof message),
              KOBC_OK);
    EXPECT_NE(kobc_library_remove(dir.c_str(), "tv", "POWER", message, sizeof message), KOBC_OK);
    size_t amp = 0;
    if (kobc_remotes_find(loaded.remotes, "amp") >= 0)
        amp = static_cast<size_t>(kobc_remotes_find(loaded.remotes, "amp"));
    ASSERT_EQ(kobc_remote_rename(loaded.remotes, amp, nullptr, "tv", message, sizeof message),
              KOBC_OK);
    EXPECT_NE(kobc_library_store(dir.c_str(), loaded.remotes, amp, 1, message, sizeof message),
              KOBC_OK);
    EXPECT_EQ(slurp(bad), garbage);
    // Removing the whole remote is the way to be rid of it.
    EXPECT_EQ(kobc_library_remove(dir.c_str(), "tv", nullptr, message, sizeof message), KOBC_OK);
    EXPECT_FALSE(fs::exists(bad));
}

TEST_F(LibraryFolder, NamesThatWouldLeaveTheFolderAreRefused) {
    fs::create_directories(dir);
    const char* names[] = {"../escaped", "a/b", "a\\b", ".hidden", "..", "c:x", "", "tv\n"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(put(name, "POWER", 1), KOBC_E_NAME) << message;
    }
    ASSERT_EQ(put("tv", "POWER", 1), KOBC_OK) << message;
    for (const char* name : names)
        EXPECT_EQ(kobc_library_rename(dir.c_str(), "tv", nullptr, name, message, sizeof message),
                  KOBC_E_NAME)
            << name;
    EXPECT_FALSE(fs::exists(root / "escaped.ir"));
    EXPECT_EQ(entries(), std::vector<std::string>({".lock", "tv.ir"}));
}

TEST_F(LibraryFolder, ChangesReplaceTheFileWhole) {
    ASSERT_EQ(put("tv", "POWER", 1), KOBC_OK) << message;
    const fs::path file = fs::path(dir) / "tv.ir";
    const std::string before = slurp(file);
#ifndef _WIN32
    // A reader that opened the old file reads it whole after the change.
    std::ifstream reader(file, std::ios::binary);
#endif
    ASSERT_EQ(put("tv", "MUTE", 9), KOBC_OK) << message;
#ifndef _WIN32
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(reader), {}), before);
#endif
    EXPECT_NE(slurp(file), before);
    EXPECT_EQ(entries(), std::vector<std::string>({".lock", "tv.ir"}));  // no temporary left
}

// A Flipper cannot send a code without a carrier, but the library keeps
// one: it reads back unmodulated, while a Flipper export still refuses it.
TEST_F(LibraryFolder, KeepsUnmodulatedCodes) {
    static kobc_code code;
    code = kobc_code{};
    const int timings[] = {900, -450, 900, -45000};
    for (int t : timings)
        code.durations[code.once_count++] = t;
    for (long carrier : {0L, 36000L}) {
        SCOPED_TRACE(carrier);
        code.carrier_hz = carrier;
        kobc_button b{};
        b.name = "AUX";
        b.kind = KOBC_BUTTON_RAW;
        b.raw = &code;
        ASSERT_EQ(kobc_library_put_button(dir.c_str(), "tv", &b, 1, message, sizeof message),
                  KOBC_OK)
            << message;
        Loaded loaded;
        load(loaded);
        ASSERT_EQ(loaded.buttons("tv"), 1u) << message;
        kobc_button got{};
        ASSERT_EQ(kobc_remote_button(loaded.remotes, 0, 0, &got), KOBC_OK);
        ASSERT_NE(got.raw, nullptr);
        EXPECT_EQ(got.raw->carrier_hz, carrier);
        EXPECT_EQ(std::vector<int>(got.raw->durations, got.raw->durations + got.raw->once_count),
                  std::vector<int>(std::begin(timings), std::end(timings)));
        size_t needed = 0;
        EXPECT_EQ(kobc_remotes_write(loaded.remotes, 0, KOBC_FORMAT_FLIPPER, nullptr, 0, &needed,
                                     message, sizeof message) == KOBC_E_UNSUPPORTED,
                  carrier == 0)
            << message;
    }
}

TEST_F(LibraryFolder, ChangesAndTheirErrors) {
    ASSERT_EQ(put("tv", "POWER", 1), KOBC_OK) << message;
    ASSERT_EQ(put("tv", "MUTE", 9), KOBC_OK) << message;
    ASSERT_EQ(put("amp", "POWER", 1), KOBC_OK) << message;
    const std::string d = dir;
    struct Case {
        const char* what;
        int expected;
        std::function<int()> call;
    };
    const Case cases[] = {
        {"button exists", KOBC_E_EXISTS, [&] { return put("tv", "POWER", 2); }},
        {"button replaced", KOBC_OK, [&] { return put("tv", "POWER", 2, 1); }},
        {"rename to a taken remote", KOBC_E_EXISTS,
         [&] { return kobc_library_rename(d.c_str(), "tv", nullptr, "amp", nullptr, 0); }},
        {"rename a missing remote", KOBC_E_NOT_FOUND,
         [&] { return kobc_library_rename(d.c_str(), "vcr", nullptr, "x", nullptr, 0); }},
        {"rename a button", KOBC_OK,
         [&] { return kobc_library_rename(d.c_str(), "tv", "MUTE", "SILENCE", nullptr, 0); }},
        {"rename a remote", KOBC_OK,
         [&] { return kobc_library_rename(d.c_str(), "amp", nullptr, "receiver", nullptr, 0); }},
        {"remove a missing button", KOBC_E_NOT_FOUND,
         [&] { return kobc_library_remove(d.c_str(), "tv", "NOPE", nullptr, 0); }},
        {"remove a button", KOBC_OK,
         [&] { return kobc_library_remove(d.c_str(), "tv", "POWER", nullptr, 0); }},
        {"remove a missing remote", KOBC_E_NOT_FOUND,
         [&] { return kobc_library_remove(d.c_str(), "amp", nullptr, nullptr, 0); }},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.call(), c.expected) << c.what;

    Loaded loaded;
    load(loaded);
    EXPECT_EQ(kobc_remotes_count(loaded.remotes), 2u);
    EXPECT_EQ(loaded.buttons("tv"), 1u);
    EXPECT_EQ(loaded.buttons("receiver"), 1u);
    const long tv = kobc_remotes_find(loaded.remotes, "tv");
    ASSERT_GE(tv, 0);
    EXPECT_GE(kobc_remote_find_button(loaded.remotes, static_cast<size_t>(tv), "SILENCE"), 0);
    EXPECT_EQ(entries(), std::vector<std::string>({".lock", "receiver.ir", "tv.ir"}));
    // Storing a whole remote: refused over one of the same name unless replaced.
    const size_t at = static_cast<size_t>(tv);
    EXPECT_EQ(kobc_library_store(d.c_str(), loaded.remotes, at, 0, nullptr, 0), KOBC_E_EXISTS);
    EXPECT_EQ(kobc_library_store(d.c_str(), loaded.remotes, at, 1, nullptr, 0), KOBC_OK);
}

TEST_F(LibraryFolder, MissingFolderHoldsNoRemotes) {
    Loaded loaded;
    load(loaded);
    EXPECT_EQ(loaded.status, KOBC_OK);
    EXPECT_EQ(kobc_remotes_count(loaded.remotes), 0u);
    EXPECT_FALSE(fs::exists(dir));
}

#ifndef _WIN32
TEST(LibraryDefaultDir, FromTheEnvironment) {
    struct Case {
        const char *library, *xdg, *home, *expected;
    };
    const Case cases[] = {
        {"/l", "/x", "/h", "/l"},
        {"", "/x", "/h", "/x/kob/remotes"},
        {nullptr, nullptr, "/h", "/h/.local/share/kob/remotes"},
        {nullptr, nullptr, nullptr, nullptr},
    };
    const auto set = [](const char* name, const char* value) {
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    };
    for (const auto& c : cases) {
        set("KOB_LIBRARY", c.library);
        set("XDG_DATA_HOME", c.xdg);
        set("HOME", c.home);
        char path[64];
        const int status = kobc_library_default_dir(path, sizeof path);
        if (c.expected == nullptr) {
            EXPECT_EQ(status, KOBC_E_NOT_FOUND);
        } else {
            ASSERT_EQ(status, KOBC_OK);
            EXPECT_STREQ(path, c.expected);
            EXPECT_EQ(kobc_library_default_dir(path, std::strlen(c.expected)), KOBC_E_SPACE);
        }
    }
}
#endif

}  // namespace
