// The command line: parseArguments over words cut from the input at NUL bytes (at most 64, after
// a program name). Checked against the rule of the option syntax: an option is a word of two or
// more characters starting with "-" whose second character is not a digit; "name=value" gives a
// first value; the words up to the next option are its further values; a repeated option
// replaces its earlier occurrence whole.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "core/ArgumentList.h"

namespace {

constexpr std::size_t kMaxWords = 64;

bool isOption(const std::string& word) {
    return word.size() >= 2 && word[0] == '-' && !(word[1] >= '0' && word[1] <= '9');
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietProcess();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> words = {"zevserver"};
    std::string text(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    while (start <= text.size() && words.size() <= kMaxWords) {
        std::size_t end = text.find('\0', start);
        if (end == std::string::npos) end = text.size();
        words.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());

    std::map<std::string, std::vector<std::string>> expected;
    std::vector<std::string>* current = nullptr;
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string& word = words[i];
        FUZZ_CHECK(ArgumentList::isSwitch(word.c_str()) == isOption(word));
        if (!isOption(word)) {
            if (current != nullptr) current->push_back(word);
            continue;
        }
        std::size_t equals = word.find('=');
        current = &expected[word.substr(0, equals)];
        current->clear();
        if (equals != std::string::npos) current->push_back(word.substr(equals + 1));
    }

    delete ArgumentList::getInstance();
    ArgumentList& list = *ArgumentList::getInstance();
    int count = list.parseArguments(static_cast<int>(argv.size()), argv.data());
    FUZZ_CHECK(count == static_cast<int>(expected.size()));
    FUZZ_CHECK(list.getArgumentCount() == count);
    for (const auto& [name, values] : expected) {
        FUZZ_CHECK(list.isArgumentSet(name));
        FUZZ_CHECK(list.getArgumentValueCount(name) == static_cast<int>(values.size()));
        for (std::size_t i = 0; i < values.size(); ++i) {
            const char* value = list.getArgumentValue(name, static_cast<int>(i));
            FUZZ_CHECK(value != nullptr && values[i] == value);
        }
        FUZZ_CHECK(list.getArgumentValue(name, static_cast<int>(values.size())) == nullptr);
    }
    return 0;
}
