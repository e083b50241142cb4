# input-remapper for the latency comparison, run inside the peer rootfs: its daemon in this
# process (as its service runs it, without D-Bus), autoloading a preset for the scripted
# lever that maps button 1 to Page Up and button 2 to Page Down.
import json
import os
import sys

# It makes real uinput devices only when it takes itself for the service.
sys.argv[0] = "/usr/bin/input-remapper-service"
os.environ["USER"] = "root"
config = "/root/.config/input-remapper"
os.makedirs(f"{config}/presets/Scripted Lever", exist_ok=True)
with open(f"{config}/config.json", "w") as f:
    json.dump({"version": "1.5.0", "autoload": {"Scripted Lever": "bench"}}, f)
with open(f"{config}/presets/Scripted Lever/bench.json", "w") as f:
    json.dump({"mapping": {"1,288,1": ["KEY_PAGEUP", "keyboard"], "1,289,1": ["KEY_PAGEDOWN", "keyboard"]}}, f)

from gi.repository import GLib  # noqa: E402
from inputremapper.daemon import Daemon  # noqa: E402

daemon = Daemon()
daemon.set_config_dir(config)
daemon.autoload()
GLib.MainLoop().run()
