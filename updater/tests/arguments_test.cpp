// The command line: the parentID rule, file URL paths and the child programs' paths, as tables
// (the argument count is judged on the built program, in e2e_test.cpp).
#include "arguments.h"
#include "update_assistant.h"

#include <gtest/gtest.h>
#include <new>

namespace {

struct IdCase {
    const char* text;
    int32_t expected;
};
void PrintTo(const IdCase& c, std::ostream* out) {
    *out << '"' << c.text << '"';
}

class ParentID : public ::testing::TestWithParam<IdCase> {};

TEST_P(ParentID, ReadsOnlyPlainSigned32BitDecimals) {
    EXPECT_EQ(parseParentID(GetParam().text), GetParam().expected) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParentID,
    ::testing::Values(IdCase{"4242", 4242}, IdCase{"+17", 17}, IdCase{"-3", -3}, IdCase{"0", 0},
                      IdCase{"007", 7}, IdCase{"2147483647", 2147483647},
                      IdCase{"-2147483648", INT32_MIN}, IdCase{"2147483648", 0},
                      IdCase{"-2147483649", 0}, IdCase{"99999999999999999999", 0},
                      IdCase{"000000000000000000042", 42}, IdCase{"", 0}, IdCase{"+", 0},
                      IdCase{"-", 0}, IdCase{" 42", 0}, IdCase{"42 ", 0}, IdCase{"4 2", 0},
                      IdCase{"42\n", 0}, IdCase{"4a2", 0}, IdCase{"0x1A", 0}, IdCase{"++4", 0},
                      IdCase{"+-4", 0}, IdCase{"4-", 0}, IdCase{"\xd9\xa4", 0}, IdCase{"1e3", 0},
                      IdCase{"4.0", 0}));

struct PathCase {
    const char* argument;
    const char* workingDirectory;
    const char* expected;
};
void PrintTo(const PathCase& c, std::ostream* out) {
    *out << '"' << c.argument << "\" in \"" << c.workingDirectory << '"';
}

class FilePath : public ::testing::TestWithParam<PathCase> {};

TEST_P(FilePath, IsAbsoluteWithoutATrailingSlash) {
    EXPECT_EQ(fileURLPath(GetParam().argument, GetParam().workingDirectory), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FilePath,
    ::testing::Values(PathCase{"/Apps/Orlavo.app", "/wd", "/Apps/Orlavo.app"},
                      PathCase{"/Apps/Orlavo.app/", "/wd", "/Apps/Orlavo.app"},
                      PathCase{"/Apps/Orlavo.app//", "/wd", "/Apps/Orlavo.app"},
                      PathCase{"/", "/wd", "/"}, PathCase{"Orlavo.app", "/wd", "/wd/Orlavo.app"},
                      PathCase{"Orlavo.app/", "/wd/", "/wd/Orlavo.app"},
                      PathCase{"./a/./b", "/wd", "/wd/a/b"},
                      PathCase{"../x", "/home/wd", "/home/x"}, PathCase{"../../../x", "/wd", "/x"},
                      PathCase{".", "/wd", "/wd"}, PathCase{"", "/wd", "/wd"},
                      PathCase{"-n app", "/wd", "/wd/-n app"},
                      PathCase{"a\nb \"c\" \xc3\xa9", "/wd", "/wd/a\nb \"c\" \xc3\xa9"},
                      PathCase{"app", "/", "/app"}, PathCase{"app", ".", "./app"},
                      // Absolute paths are normalised exactly as relative ones.
                      PathCase{"/Apps/Orlavo.app/.", "/wd", "/Apps/Orlavo.app"},
                      PathCase{"/Apps/Orlavo.app/./", "/wd", "/Apps/Orlavo.app"},
                      PathCase{"/Apps/./Orlavo.app", "/wd", "/Apps/Orlavo.app"},
                      PathCase{"/Apps//Orlavo.app", "/wd", "/Apps/Orlavo.app"},
                      PathCase{"/Apps/x/../Orlavo.app", "/wd", "/Apps/Orlavo.app"},
                      PathCase{"/Apps/Orlavo.app/..", "/wd", "/Apps"}, PathCase{"/..", "/wd", "/"},
                      PathCase{"/.", "/wd", "/"}, PathCase{"//", "/wd", "/"},
                      PathCase{"a//b/", "/wd", "/wd/a/b"}));

struct LocationCase {
    const char* name;
    std::string program;
    std::string executable;
    std::string expected;
};
void PrintTo(const LocationCase& c, std::ostream* out) {
    *out << c.name;
}

class ChildProgramPath : public ::testing::TestWithParam<LocationCase> {};

// Both programs are located by the same rule, and the copy options never change.
TEST_P(ChildProgramPath, RelativeOnesLieBesideTheExecutable) {
    const LocationCase& c = GetParam();
    const ChildPrograms located =
        locatedBeside({c.program, {"-aT", "--"}, c.program}, c.executable);
    EXPECT_EQ(located.copyProgram, c.expected);
    EXPECT_EQ(located.openProgram, c.expected);
    EXPECT_EQ(located.copyOptions, (std::vector<std::string>{"-aT", "--"}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChildProgramPath,
    ::testing::Values(LocationCase{"Relative", "update-assistant-open",
                                   "/opt/orlavo/bin/update-assistant",
                                   "/opt/orlavo/bin/update-assistant-open"},
                      LocationCase{"RelativeWithAFolder", "libexec/open",
                                   "/opt/bin/update-assistant", "/opt/bin/libexec/open"},
                      LocationCase{"Absolute", "/bin/cp", "/opt/bin/update-assistant", "/bin/cp"},
                      LocationCase{"AbsoluteWithoutAnExecutable", "/bin/cp", "", "/bin/cp"},
                      // Never a file of that name in the working directory.
                      LocationCase{"RelativeWithoutAnExecutable", "update-assistant-open", "", ""},
                      LocationCase{"NoProgram", "", "/opt/bin/update-assistant", ""}),
    [](const ::testing::TestParamInfo<LocationCase>& info) {
        return std::string(info.param.name);
    });

TEST(ExitStatus, IsTheBodysOwnWhenItReturns) {
    EXPECT_EQ(exitStatusOf([] { return 0; }), 0);
}

// The assistant's statuses are 0 and 2; an exception after the count check is not a third one.
TEST(ExitStatus, IsZeroWhenAnExceptionEscapes) {
    EXPECT_EQ(exitStatusOf([]() -> int { throw std::bad_alloc(); }), 0);
    EXPECT_EQ(exitStatusOf([]() -> int { throw 42; }), 0);
}

} // namespace
