# Installs Velmora.prefPane (VELMORA_BUNDLE_SOURCE) for the user: into $VELMORA_PANE_DIR when set,
# else into the world's Library/PreferencePanes when $VELMORA_WORLD names one, else into
# ${XDG_DATA_HOME:-~/.local/share}/velmora/PreferencePanes: the folders velmora-settings and the
# agent search. DESTDIR is honoured, for packaging.
if(NOT "$ENV{VELMORA_PANE_DIR}" STREQUAL "")
  set(panes "$ENV{VELMORA_PANE_DIR}")
elseif(NOT "$ENV{VELMORA_WORLD}" STREQUAL "")
  set(panes "$ENV{VELMORA_WORLD}/Library/PreferencePanes")
elseif(IS_ABSOLUTE "$ENV{XDG_DATA_HOME}")
  set(panes "$ENV{XDG_DATA_HOME}/velmora/PreferencePanes")
else()
  set(panes "$ENV{HOME}/.local/share/velmora/PreferencePanes")
endif()
set(src "${VELMORA_BUNDLE_SOURCE}")
set(dest "$ENV{DESTDIR}${panes}/Velmora.prefPane")
if(NOT EXISTS "${src}/Contents/Info.plist")
  message(FATAL_ERROR "No Velmora.prefPane in the build (${src}): build the velmora_prefpane target first.")
endif()

# Files that left the bundle leave the installed copy too.
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE "${dest}" "${dest}/*")
foreach(rel ${installed})
  if(NOT EXISTS "${src}/${rel}")
    file(REMOVE "${dest}/${rel}")
  endif()
endforeach()

# A running agent keeps its executable busy: a changed one is unlinked first (the running process
# keeps its copy) instead of being overwritten in place, which Linux refuses.
set(agent_app "Contents/Library/LoginItems/Velmora Manager.app")
set(agent_changed FALSE)
foreach(exe "Contents/MacOS/Velmora" "${agent_app}/Contents/MacOS/Velmora Manager")
  if(EXISTS "${dest}/${exe}" AND EXISTS "${src}/${exe}")
    file(SHA256 "${src}/${exe}" new)
    file(SHA256 "${dest}/${exe}" old)
    if(NOT new STREQUAL old)
      file(REMOVE "${dest}/${exe}")
      if(exe MATCHES "Velmora Manager$")
        set(agent_changed TRUE)
      endif()
    endif()
  elseif(exe MATCHES "Velmora Manager$")
    set(agent_changed TRUE)
  endif()
endforeach()

# file(INSTALL) puts DESTDIR in front by itself.
file(INSTALL "${src}" DESTINATION "${panes}" USE_SOURCE_PERMISSIONS)
# The agent app's date says when the agent inside changed: the settings pane restarts a running
# agent that is older than its bundle.
if(agent_changed)
  file(TOUCH_NOCREATE "${dest}/${agent_app}")
endif()
