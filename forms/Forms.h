#pragma once
// Creating and destroying the program's windows.

// Creates the thirteen windows in their fixed order, each held in its global
// (Form1, ImForm, SmImForm, Form5, Form6, Form7, LearnForm, HintForm,
// AnsForm, Form10, SerLForm, Form12, ProgressForm), and shows the main window Form1; all
// others stay hidden. The shared image and sequence objects already exist.
void CreateForms();

// Destroys the windows in the reverse order and empties their globals.
void DestroyForms();
