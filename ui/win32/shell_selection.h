#pragma once

#include <windows.h>
#include <objidl.h>

#include <string>
#include <vector>

namespace pictrim::ui {

// The class behind the Explorer verbs the installer registers: a verb whose
// DropTarget names it hands the whole selection to one process in one
// call, whatever its size, where a command verb would start a process per
// item (and offer itself for 15 at most). pictrim.exe serves it as a local
// server; COM starts it with -Embedding.
// {AB592894-8D00-472E-BDFF-E268CBA0E760}
inline constexpr CLSID kShellSelectionClsid = {
    0xab592894, 0x8d00, 0x472e, {0xbd, 0xff, 0xe2, 0x68, 0xcb, 0xa0, 0xe7, 0x60}};

// Whether COM started the program to serve the class: "-Embedding" or
// "/Embedding", in any case, as the only argument.
bool StartedByCom(const std::vector<std::wstring>& args);

// Serves the class until the shell drops a selection on it, then stops
// serving it. The selection's file-system paths in the shell's order
// (items without one, such as a phone's files, are left out); empty when
// the shell let go of the object without a drop, or none came. COM must
// be initialised on the calling thread as a single-threaded apartment.
std::vector<std::wstring> ReceiveShellSelection();

// The file-system paths a data object carries: the file list (CF_HDROP)
// where it has one, else the shell's item list.
std::vector<std::wstring> PathsInDataObject(IDataObject* data);

}  // namespace pictrim::ui
