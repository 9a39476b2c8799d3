// The command line as a map from option name (exactly as typed, without any "=value") to the
// values that follow it. It knows no option names: the readers ask for the ones they use.
#pragma once

#include <map>
#include <string>
#include <vector>

struct Argument {
    std::vector<std::string> values;
};

class ArgumentList {
public:
    // Created on first use; delete the returned object to destroy it.
    static ArgumentList* getInstance();
    ~ArgumentList();

    ArgumentList(const ArgumentList&) = delete;
    ArgumentList& operator=(const ArgumentList&) = delete;

    // Fills the map from the process arguments (argv[0] is skipped). A repeated option replaces
    // its earlier occurrence whole. Returns the number of distinct options.
    int parseArguments(int argc, const char* const* argv);

    // An option is at least two characters, starts with "-", and its second character is not a
    // digit: a lone "-" and negative numbers are values.
    static bool isSwitch(const char* word);

    bool isArgumentSet(const std::string& name) const;
    // The value at `index`, or null when the option is absent or has fewer values.
    const char* getArgumentValue(const std::string& name, int index) const;
    // Number of values, -1 when the option is absent.
    int getArgumentValueCount(const std::string& name) const;
    int getArgumentCount() const { return static_cast<int>(m_options.size()); }

    // Usage text and version banner, through the log.
    static void showHelp();
    static void showVersion();

private:
    ArgumentList() = default;

    static ArgumentList* s_instance;
    std::map<std::string, Argument> m_options;
};
