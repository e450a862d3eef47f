// The generated part of the text model's corpus: lines of every kind the model must know (English
// and Russian sentences, identifiers, paths, URLs, e-mail addresses, registry keys, command lines),
// made from the word lists by a fixed generator, so that the model is the same on every machine.
#pragma once

#include <string>
#include <vector>

// Appends the generated lines to `corpus`, from `word_lists`: the sectioned word list (words.txt)
// as Windows-1251 text, where "[name]" starts a section, "#" a comment line, and words are
// separated by blanks.
void AddComposedLines(const std::string& word_lists, std::vector<std::string>& corpus);
