// The one entry point of the settings pane's plug-in (Velmora.prefPane/Contents/MacOS/Velmora):
// the settings host loads the shared library, looks up velmora_pane_entry and drives the pane
// through its life cycle with the functions it returns. Both sides are Qt programs built from
// this tree, so widgets cross the boundary as QWidget pointers.
#pragma once

#include <cstdint>

class QWidget;

extern "C" {

// Raised whenever the table below changes shape; the host refuses a pane of another version.
inline constexpr int32_t kVelmoraPaneAbiVersion = 1;

// What the host tells the pane when it makes it.
struct VelmoraPaneHostInfo {
  const char* paneBundlePath;  // ".../Velmora.prefPane"
  const char* worldFolder;     // the simulated Mac the programs run on; null or "" for the real one
  const char* hostName;        // the host application's name ("Velmora Settings")
  const char* hostBundleID;    // the host's bundle identifier, for terminating it from the pane
};

struct VelmoraPane;  // opaque: the pane controller and its views

struct VelmoraPaneEntry {
  int32_t abiVersion;  // kVelmoraPaneAbiVersion
  // Makes the pane; null when it cannot be made (the reason is printed to standard error).
  VelmoraPane* (*create)(const VelmoraPaneHostInfo* host);
  // "ErrorWin" or "" (the main view); decided before the view exists.
  const char* (*mainNibName)(VelmoraPane* pane);
  // The pane's main view (or its error view), parented by the host into its window.
  QWidget* (*loadMainView)(VelmoraPane* pane, QWidget* parent);
  void (*willSelect)(VelmoraPane* pane);
  void (*didSelect)(VelmoraPane* pane);
  // False vetoes leaving the pane (edits that cannot be committed).
  bool (*shouldUnselect)(VelmoraPane* pane);
  void (*willUnselect)(VelmoraPane* pane);
  // Selects a tab by its short name ("speed", "apps", ...); false for an unknown name.
  bool (*selectTab)(VelmoraPane* pane, const char* name);
  void (*destroy)(VelmoraPane* pane);
};

// Exported by the plug-in.
const VelmoraPaneEntry* velmora_pane_entry(void);
using VelmoraPaneEntryFunction = const VelmoraPaneEntry* (*)(void);

}  // extern "C"
