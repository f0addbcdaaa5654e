#include "KzrCommandLine.h"

#include <cerrno>
#include <cstdlib>

namespace kzrsynth {

bool CommandLine::Next(std::string& argument)
{
    if (m_Next >= m_Argc)
        return false;
    argument = m_Argv[m_Next++];
    return true;
}

std::string CommandLine::Value(const std::string& option)
{
    if (m_Next >= m_Argc)
        Fail(option + " needs a value");
    return m_Argv[m_Next++];
}

long CommandLine::Number(const std::string& option, const std::string& text, long lo, long hi)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || errno || v < lo || v > hi)
        Fail("bad value for " + option + ": " + text);
    return v;
}

std::string CommandLine::OneOf(const std::string& option, std::initializer_list<const char*> allowed)
{
    const std::string v = Value(option);
    for (const char* a : allowed)
        if (v == a)
            return v;
    Fail("bad value for " + option + ": " + v);
}

int CommandLine::OneOf(const std::string& option, std::initializer_list<int> allowed)
{
    const std::string text = Value(option);
    const long v = Number(option, text, -0x7FFFFFFFL, 0x7FFFFFFFL);
    for (int a : allowed)
        if (v == a)
            return a;
    Fail("bad value for " + option + ": " + text);
}

void CommandLine::Other(const std::string& argument, std::string& operand, const std::string& what)
{
    if (argument == "--help" || argument == "-h")
        Fail("");
    if (!argument.empty() && argument[0] == '-')
        Fail("unknown option " + argument);
    if (!operand.empty())
        Fail("more than one " + what);
    operand = argument;
}

void CommandLine::Fail(const std::string& problem)
{
    m_Usage(problem);
    std::exit(2);
}

}  // namespace kzrsynth
