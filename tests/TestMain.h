// Shared helpers for the test programs.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

// Asserts that statement throws exactly ExceptionType with exactly message.
#define EXPECT_THROW_MSG(statement, ExceptionType, message)                       \
    do {                                                                          \
        try {                                                                     \
            statement;                                                            \
            ADD_FAILURE() << "no exception thrown by " #statement;                \
        } catch (const ExceptionType& e_) {                                       \
            EXPECT_EQ(std::string(e_.what()), std::string(message));              \
        } catch (const std::exception& e_) {                                      \
            ADD_FAILURE() << "wrong exception type: " << e_.what();               \
        }                                                                         \
    } while (0)

namespace palvex::test {

// The sample pictures kept in the repository (tests/data, listed in its MANIFEST.tsv).
inline std::filesystem::path DataDir() { return PALVEX_TEST_DATA_DIR; }

// The whole file. One that cannot be read fails the test with its path: read as
// no bytes it would pass for a cut file, or crash a test that indexes into it.
inline std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read the test file " + path.string());
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The whole file as text; a missing file reads as "", as a program's output
// that was never written.
inline std::string ReadFileText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A fresh empty folder under the system's temporary folder, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

inline TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "palvex-test-XXXXXX").string();
    m_path = ::mkdtemp(pattern.data());
}

inline TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

} // namespace palvex::test
