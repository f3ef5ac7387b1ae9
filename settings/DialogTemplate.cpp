// The program's dialogs come from templates of its own resources.
#include "settings/Corvane.h"

INT_PTR RunDialogTemplate(HWND owner, int id, DLGPROC procedure) {
  HRSRC found = FindResourceW(Corvane.Instance, MAKEINTRESOURCE(id), RT_DIALOG);
  if (found == NULL) return -1;
  HGLOBAL loaded = LoadResource(Corvane.Instance, found);
  if (loaded == NULL) return -1;
  auto dialog_template = static_cast<LPCDLGTEMPLATEW>(LockResource(loaded));
  return DialogBoxIndirectParamW(Corvane.Instance, dialog_template, owner, procedure, 0);
}
