// What a person does with the windowed installer, done through Win32 from another process:
// find its windows and controls, type into editors, click buttons and choices, read texts
// and take pictures. Plain C++ (no Win32 header), so GoogleTest code can use it.
#ifndef TW_TESTS_INSTALL_GUI_WIZARD_DRIVER_H_
#define TW_TESTS_INSTALL_GUI_WIZARD_DRIVER_H_

#include <cstddef>
#include <string>
#include <vector>

namespace wizdrv {

using Handle = void*;

// What kind of control a search asks for: ids inside a button group may repeat an id of
// the dialog (radio button 119 and label 119).
enum class Kind { any, radio, notRadio };

// The first visible top-level window with that title (and window class, when given).
Handle FindTop(const std::string& title, const std::string& cls = "");
// The control of window with that id (any depth); null when there is none.
Handle FindControl(Handle window, long id, Kind kind = Kind::any);
// Every top-level dialog box window (class "#32770") now visible, with its title.
std::vector<std::pair<Handle, std::string>> Dialogs();
// The window's text, asked of the window itself (editors of another process included).
std::string Text(Handle window);
bool Visible(Handle window);
bool Enabled(Handle window);
bool ReadOnly(Handle editor);
bool Checked(Handle button);
// Types text into an editor as a replacement of its contents (the owner hears of it).
void Type(Handle editor, const std::string& text);
// Types one character to the window as the keyboard would.
void Key(Handle window, char c);
// Clicks a button: posted, so that a message box the click opens does not hold the caller.
void Click(Handle button);
// The text of a message box's message.
std::string BoxMessage(Handle box);
// Saves the window as it shows on the screen as path.bmp.
bool Screenshot(Handle window, const std::string& path);
// The number of distinct colours the window shows now.
size_t Colours(Handle window);
// Lets the other process run a little before a condition is looked at again.
void Breathe();

}  // namespace wizdrv

#endif  // TW_TESTS_INSTALL_GUI_WIZARD_DRIVER_H_
