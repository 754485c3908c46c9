'''A systemd user manager stand-in for tests (a python-dbusmock template).

It answers the Manager methods the launch agent uses, reads unit files from the folder given as
the "unit_dir" parameter as systemd would (ExecStart unquoted by systemd's rules), "runs" a unit
by checking that its program is an executable file, and appends every call to the file given as
"call_log" (one line: method and unit), and each started command line to "<call_log>.argv"
(arguments separated by NUL bytes, one line per start).
'''

import os

import dbus

from dbusmock import mockobject

BUS_NAME = 'org.freedesktop.systemd1'
MAIN_OBJ = '/org/freedesktop/systemd1'
MAIN_IFACE = 'org.freedesktop.systemd1.Manager'
UNIT_IFACE = 'org.freedesktop.systemd1.Unit'
SERVICE_IFACE = 'org.freedesktop.systemd1.Service'
SYSTEM_BUS = False


def load(mock, parameters):
    mock.unit_dir = parameters['unit_dir']
    mock.calls_file = parameters['call_log']
    mock.units = {}
    mock.AddProperties(MAIN_IFACE, {'Version': '252-stand-in'})


def log(mock, *words):
    with open(mock.calls_file, 'a', encoding='utf-8') as f:
        f.write(' '.join(words) + '\n')


def no_such_unit(text):
    return dbus.exceptions.DBusException(text, name='org.freedesktop.systemd1.NoSuchUnit')


def unit_object_path(name):
    return '/org/freedesktop/systemd1/unit/' + ''.join(c if c.isalnum() else '_%02x' % ord(c) for c in name)


def parse_exec(value):
    '''systemd's command-line syntax: words, double quotes, C escapes, %% and $$.'''
    words, i, n = [], 0, len(value)
    while i < n:
        while i < n and value[i] in ' \t':
            i += 1
        if i >= n:
            break
        word, quoted = '', value[i] == '"'
        if quoted:
            i += 1
        closed = not quoted
        while i < n:
            c = value[i]
            if quoted and c == '"':
                i += 1
                closed = True
                break
            if not quoted and c in ' \t':
                break
            if c == '\\':
                if i + 1 >= n:
                    raise ValueError('trailing backslash')
                e = value[i + 1]
                i += 2
                if e == 'x':
                    word += chr(int(value[i:i + 2], 16))
                    i += 2
                else:
                    word += {'n': '\n', 't': '\t', 'r': '\r', '\\': '\\', '"': '"', "'": "'", 's': ' '}[e]
                continue
            if c in '%$':
                if i + 1 < n and value[i + 1] == c:
                    word += c
                    i += 2
                    continue
                raise ValueError('unescaped ' + c)
            word += c
            i += 1
        if not closed:
            raise ValueError('unclosed quote')
        words.append(word)
    return words


def read_unit(path):
    sections, current = {}, None
    with open(path, encoding='utf-8') as f:
        for line in f.read().split('\n'):
            if not line or line[0] in '#;':
                continue
            if line.startswith('['):
                current = sections.setdefault(line.strip('[]'), {})
                continue
            key, _, value = line.partition('=')
            current[key] = value
    return sections


def load_unit(mock, name):
    '''(Re)loads a unit from its file; its object path.'''
    path = os.path.join(mock.unit_dir, name)
    props = {'LoadState': 'not-found', 'FragmentPath': '',
             'LoadError': dbus.Struct(('org.freedesktop.systemd1.NoSuchUnit', f'Unit {name} not found.'), signature='ss')}
    argv = []
    if os.path.exists(path):
        try:
            argv = parse_exec(read_unit(path)['Service']['ExecStart'])
            if not argv:
                raise ValueError('empty ExecStart')
            props.update(LoadState='loaded', FragmentPath=path, LoadError=dbus.Struct(('', ''), signature='ss'))
        except (KeyError, ValueError, IndexError):
            props.update(LoadState='bad-setting', FragmentPath=path,
                         LoadError=dbus.Struct(('org.freedesktop.systemd1.BadSetting',
                                                f'Unit {name} has a bad unit file setting.'), signature='ss'))
    obj_path = unit_object_path(name)
    if obj_path in mockobject.objects:
        unit = mockobject.objects[obj_path]
        # dbusmock cannot wrap a structure for the change signal: set it in place.
        unit.props[UNIT_IFACE]['LoadError'] = props.pop('LoadError')
        unit.UpdateProperties(UNIT_IFACE, props)
    else:
        props.update(Id=name, Names=dbus.Array([name], signature='s'), ActiveState='inactive', SubState='dead')
        mock.AddObject(obj_path, UNIT_IFACE, props, [])
        mockobject.objects[obj_path].AddProperties(SERVICE_IFACE, {
            'MainPID': dbus.UInt32(0), 'Result': 'success', 'ExecMainStatus': dbus.Int32(0)})
    mock.units[name] = (obj_path, argv)
    return obj_path


@dbus.service.method(MAIN_IFACE, in_signature='', out_signature='')
def Reload(self):
    log(self, 'Reload')
    for name in list(self.units):
        obj_path = self.units[name][0]
        active = mockobject.objects[obj_path].Get(UNIT_IFACE, 'ActiveState')
        if not os.path.exists(os.path.join(self.unit_dir, name)) and active in ('inactive', 'failed'):
            # An inactive unit whose file is gone is forgotten, as systemd's collection does.
            self.RemoveObject(obj_path)
            del self.units[name]
        else:
            load_unit(self, name)


@dbus.service.method(MAIN_IFACE, in_signature='asbb', out_signature='ba(sss)')
def EnableUnitFiles(self, files, _runtime, _force):
    log(self, 'EnableUnitFiles', *files)
    changes = []
    for name in files:
        path = os.path.join(self.unit_dir, name)
        if not os.path.exists(path):
            raise no_such_unit(f'Unit file {name} does not exist.')
        changes.append(('symlink', os.path.join(self.unit_dir, 'default.target.wants', name), path))
    return (True, dbus.Array(changes, signature='(sss)'))


@dbus.service.method(MAIN_IFACE, in_signature='asb', out_signature='a(sss)')
def DisableUnitFiles(self, files, _runtime):
    log(self, 'DisableUnitFiles', *files)
    return dbus.Array([], signature='(sss)')


@dbus.service.method(MAIN_IFACE, in_signature='ss', out_signature='o')
def StartUnit(self, name, _mode):
    log(self, 'StartUnit', name)
    obj_path = load_unit(self, name) if name not in self.units else self.units[name][0]
    unit = mockobject.objects[obj_path]
    load_error = unit.Get(UNIT_IFACE, 'LoadError')
    if unit.Get(UNIT_IFACE, 'LoadState') != 'loaded':
        raise dbus.exceptions.DBusException(str(load_error[1]), name=str(load_error[0]))
    argv = self.units[name][1]
    with open(self.calls_file + '.argv', 'a', encoding='utf-8') as f:
        f.write('\0'.join(argv) + '\n')
    if os.path.isfile(argv[0]) and os.access(argv[0], os.X_OK):
        unit.UpdateProperties(UNIT_IFACE, {'ActiveState': 'active', 'SubState': 'running'})
        unit.UpdateProperties(SERVICE_IFACE, {'MainPID': dbus.UInt32(4242), 'Result': 'success',
                                              'ExecMainStatus': dbus.Int32(0)})
    else:
        # What systemd reports when the program cannot be executed.
        unit.UpdateProperties(UNIT_IFACE, {'ActiveState': 'failed', 'SubState': 'failed'})
        unit.UpdateProperties(SERVICE_IFACE, {'MainPID': dbus.UInt32(0), 'Result': 'exit-code',
                                              'ExecMainStatus': dbus.Int32(203)})
    return '/org/freedesktop/systemd1/job/1'


@dbus.service.method(MAIN_IFACE, in_signature='ss', out_signature='o')
def StopUnit(self, name, _mode):
    log(self, 'StopUnit', name)
    if name not in self.units:
        raise no_such_unit(f'Unit {name} not loaded.')
    unit = mockobject.objects[self.units[name][0]]
    unit.UpdateProperties(UNIT_IFACE, {'ActiveState': 'inactive', 'SubState': 'dead'})
    unit.UpdateProperties(SERVICE_IFACE, {'MainPID': dbus.UInt32(0)})
    return '/org/freedesktop/systemd1/job/2'


@dbus.service.method(MAIN_IFACE, in_signature='s', out_signature='o')
def GetUnit(self, name):
    log(self, 'GetUnit', name)
    if name not in self.units:
        raise no_such_unit(f'Unit {name} not loaded.')
    return self.units[name][0]
