#pragma once
// The command line of the generator's tools: options with values, numbers within a range, and one operand.
// Every problem goes to the tool's usage function, which prints it with the usage text; then the tool exits
// with status 2.
#include <initializer_list>
#include <string>

namespace kzrsynth {

class CommandLine {
public:
    using UsageFunction = void (*)(const std::string& problem);

    CommandLine(int argc, char** argv, UsageFunction usage) : m_Argc(argc), m_Argv(argv), m_Usage(usage) {}

    // The next argument; false after the last.
    bool Next(std::string& argument);
    // The value that follows the option just read.
    std::string Value(const std::string& option);
    // A decimal number within lo..hi: the next value, or a given text.
    long Number(const std::string& option, long lo, long hi) { return Number(option, Value(option), lo, hi); }
    long Number(const std::string& option, const std::string& text, long lo, long hi);
    // The next value, which must be one of the texts, or one of the numbers.
    std::string OneOf(const std::string& option, std::initializer_list<const char*> allowed);
    int OneOf(const std::string& option, std::initializer_list<int> allowed);
    // The end of every option loop: --help, unknown options, and the single operand (what names it).
    void Other(const std::string& argument, std::string& operand, const std::string& what);
    [[noreturn]] void Fail(const std::string& problem);

private:
    int m_Argc;
    char** m_Argv;
    int m_Next = 1;
    UsageFunction m_Usage;
};

}  // namespace kzrsynth
