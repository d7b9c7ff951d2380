// What the argument fuzz targets feed a command line: the input's bytes as
// arguments separated by NUL bytes (at most 15), after the program's name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ArgumentWords {
    std::vector<std::string> words{"program"};
    std::vector<const char*> argv;

    ArgumentWords(const uint8_t* data, size_t size)
    {
        std::string word;
        for (size_t i = 0; i < size && words.size() < 16; ++i) {
            if (data[i] == 0) {
                words.push_back(word);
                word.clear();
            } else {
                word += static_cast<char>(data[i]);
            }
        }
        words.push_back(word);
        for (const std::string& w : words)
            argv.push_back(w.c_str());
    }
    // argv points into words.
    ArgumentWords(const ArgumentWords&) = delete;
    ArgumentWords& operator=(const ArgumentWords&) = delete;
};
