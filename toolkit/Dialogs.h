// Message boxes. Tests replace the modal box with a sink that collects texts.
#pragma once

#include <functional>
#include <string>

// Shows text in a modal message box, or hands it to the sink when one is set.
// While a box is open a second message is not stacked on top of it: it is
// dropped, so a burst of errors never piles up boxes.
void ShowMessage(const std::string& text);

// Replaces the modal box; an empty function restores it.
void SetMessageSink(std::function<void(const std::string&)> sink);

// True while a modal message box is open (its nested event loop runs).
bool MessageBoxOpen();
