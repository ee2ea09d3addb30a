// The program's message boxes: a fixed text, the caption "Vantorel 1.2", one OK
// button and no icon.
//
// Threads: user-interface thread only.
#pragma once

class QWidget;

// The caption of the main window and of every message box.
inline constexpr char kProgramCaption[] = "Vantorel 1.2";

// Shows `text` and waits until the user presses OK. `owner` may be null (no
// window yet, or the window is gone); the box is modal to its owner otherwise.
void ShowMessage(QWidget* owner, const char* text);
