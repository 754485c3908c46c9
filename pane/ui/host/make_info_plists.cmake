# Writes the Info.plists of Velmora.prefPane and of the Velmora Manager app inside it, both with
# the same build date. Run with -DBUNDLE=<.../Velmora.prefPane> -DVERSION=<x.y.z>.
# MyBuildDate is UTC in a form that sorts as text, which is how the agents compare it; it follows
# SOURCE_DATE_EPOCH when that is set, for reproducible builds.
string(TIMESTAMP build_date "%Y-%m-%d %H:%M:%S" UTC)

function(write_info path identifier name executable)
  file(WRITE "${path}" "<?xml version=\"1.0\" encoding=\"UTF-8\"?>
<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">
<plist version=\"1.0\">
<dict>
	<key>CFBundleDevelopmentRegion</key>
	<string>en</string>
	<key>CFBundleExecutable</key>
	<string>${executable}</string>
	<key>CFBundleIdentifier</key>
	<string>${identifier}</string>
	<key>CFBundleInfoDictionaryVersion</key>
	<string>6.0</string>
	<key>CFBundleName</key>
	<string>${name}</string>
	<key>CFBundlePackageType</key>
	<string>${ARGN}</string>
	<key>CFBundleShortVersionString</key>
	<string>${VERSION}</string>
	<key>CFBundleVersion</key>
	<string>${VERSION}</string>
	<key>MyBuildDate</key>
	<string>${build_date}</string>
</dict>
</plist>
")
endfunction()

write_info("${BUNDLE}/Contents/Info.plist" "quillon.Velmora.prefpane" "Velmora" "Velmora" "BNDL")
write_info("${BUNDLE}/Contents/Library/LoginItems/Velmora Manager.app/Contents/Info.plist"
           "quillon.Velmora.boa" "Velmora Manager" "Velmora Manager" "APPL")
