// Checks the conditions every other test relies on, so that a broken test set-up shows as
// one clear failure instead of many puzzling ones.
#include <windows.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

TEST(Environment, AnsiCodePageIsGbk) {
    EXPECT_EQ(GetACP(), 936u);
}

TEST(Environment, WindowsCanBeCreatedOnTheDisplay) {
    HWND w = CreateWindowExA(0, "STATIC", "probe", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                             nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(w, nullptr) << "no X display reached the test";
    EXPECT_TRUE(DestroyWindow(w));
}

TEST(Environment, PrefixBelongsToTheBuildTree) {
    const char* prefix = std::getenv("WINEPREFIX");
    ASSERT_NE(prefix, nullptr);
    const std::string p = prefix;
    EXPECT_EQ(p.find("/.wine"), std::string::npos) << p;
    EXPECT_NE(p.find("/wine/prefix"), std::string::npos) << p;
}
