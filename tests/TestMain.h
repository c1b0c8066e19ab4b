// Shared helpers for the test programs.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

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

inline std::filesystem::path CorpusDir() { return PALVEX_CORPUS_DIR; }

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
