'''A stand-in for KWin's per-device input interface (python3-dbusmock template).

org.kde.KWin owns /org/kde/KWin/InputDevice (org.kde.KWin.InputDeviceManager: devicesSysNames,
deviceAdded, deviceRemoved) and one object per device, /org/kde/KWin/InputDevice/eventN, with
the org.kde.KWin.InputDevice properties a pointer speed touches. event9 vanishes in the
middle of a write: as soon as its flat profile is switched on, before the speed follows.
'''
import dbus

BUS_NAME = 'org.kde.KWin'
MAIN_OBJ = '/org/kde/KWin/InputDevice'
MAIN_IFACE = 'org.kde.KWin.InputDeviceManager'
SYSTEM_BUS = False
DEVICE_IFACE = 'org.kde.KWin.InputDevice'

DEVICES = {
    'event5': ('Logitech USB Optical Mouse', True, False),
    'event6': ('SYNA8004:00 06CB:CD8B Touchpad', True, True),
    'event7': ('AT Translated Set 2 keyboard', False, False),
    'event9': ('Vanishing Mouse', True, False),
}


def device_properties(name, pointer, touchpad):
    return {
        'name': dbus.String(name),
        'sysName': dbus.String(''),
        'enabled': dbus.Boolean(True),
        'pointer': dbus.Boolean(pointer),
        'keyboard': dbus.Boolean(not pointer),
        'touchpad': dbus.Boolean(touchpad),
        'pointerAcceleration': dbus.Double(0.0),
        'defaultPointerAcceleration': dbus.Double(0.0),
        'pointerAccelerationProfileFlat': dbus.Boolean(False),
        'pointerAccelerationProfileAdaptive': dbus.Boolean(True),
        'supportsPointerAccelerationProfileFlat': dbus.Boolean(pointer),
        'supportsPointerAccelerationProfileAdaptive': dbus.Boolean(pointer),
        'defaultPointerAccelerationProfileFlat': dbus.Boolean(False),
        'defaultPointerAccelerationProfileAdaptive': dbus.Boolean(pointer),
        'naturalScroll': dbus.Boolean(False),
        'leftHanded': dbus.Boolean(False),
    }


def load(mock, parameters):
    names = []
    for sys_name, (name, pointer, touchpad) in DEVICES.items():
        props = device_properties(name, pointer, touchpad)
        props['sysName'] = dbus.String(sys_name)
        mock.AddObject(MAIN_OBJ + '/' + sys_name, DEVICE_IFACE, props, [])
        names.append(sys_name)
    mock.AddProperties(MAIN_IFACE, {'devicesSysNames': dbus.Array(names, signature='s')})

    vanishing = MAIN_OBJ + '/event9'

    def changed(interface, props, invalidated, path=None):
        if path == vanishing and props.get('pointerAccelerationProfileFlat'):
            mock.RemoveObject(vanishing)
            mock.EmitSignal(MAIN_IFACE, 'deviceRemoved', 's', ['event9'])

    mock.connection.add_signal_receiver(changed, 'PropertiesChanged', 'org.freedesktop.DBus.Properties',
                                        path=vanishing, path_keyword='path')
