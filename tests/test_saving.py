"""Saving replaces a file the way a plain write would, only atomically: nothing is lost, links are
followed, devices and FIFOs are written in place, permissions and ownership are kept, and what a
plain write would refuse is refused."""

import os
import stat
import subprocess
import sys
import tempfile
import textwrap
import threading

import pytest

import tavo_core as tc
from conftest import child_environment

NAN, INF = float("nan"), float("inf")


def sample_file():
    topology = tc.TavoFile("net")
    topology.add_node("A", 100.0)
    topology.add_node("B")
    topology.add_link("L", "A", "B", 10.0, 0.9, 100.0, tc.TavoLinkType.Satellite,
                      tc.TavoSatelliteExtension(0.5, 0.8))
    topology.config = tc.TavoConfig(0.2, 0.1, 0.85, 10)
    topology.constraints = tc.TavoConstraints(0.9, 100.0)
    return topology


def changed(attribute, value):
    """sample_file() with one float replaced (a read-modify-write of the copy getters return)."""
    topology = sample_file()
    owner_name, _, field = attribute.partition(".")
    if owner_name in ("nodes", "links"):
        items = getattr(topology, owner_name)
        item = items[0]
        if field.startswith("satellite."):
            satellite = item.satellite
            setattr(satellite, field.split(".")[1], value)
            item.satellite = satellite
        else:
            setattr(item, field, value)
        items[0] = item
        setattr(topology, owner_name, items)
    else:
        section = getattr(topology, owner_name)
        setattr(section, field, value)
        setattr(topology, owner_name, section)
    return topology


def leftovers(directory):
    return sorted(name for name in os.listdir(directory) if name.startswith(".tavo-"))


@pytest.mark.parametrize("attribute, value, where", [
    ("links.distance_km", NAN, "links[0].distance_km"),
    ("links.base_fidelity", INF, "links[0].base_fidelity"),
    ("links.generation_rate_hz", -INF, "links[0].generation_rate_hz"),
    ("links.satellite.weather_factor", NAN, "links[0].satellite.weather_factor"),
    ("nodes.memory_lifetime_ms", INF, "nodes[0].memory_lifetime_ms"),
    ("config.gamma_swapping", NAN, "config.gamma_swapping"),
    ("constraints.max_latency_ms", INF, "constraints.max_latency_ms"),
])
@pytest.mark.parametrize("save", ["method", "function"])
def test_non_finite_numbers_are_refused_before_the_file_is_touched(tmp_path, attribute, value, where, save):
    path = tmp_path / "net.tavo"
    sample_file().save(str(path))
    before = path.read_bytes()
    topology = changed(attribute, value)
    with pytest.raises(ValueError) as raised:
        topology.save(str(path)) if save == "method" else tc.save(topology, str(path))
    assert raised.value.args == (f"{where} is not a finite number",)
    assert path.read_bytes() == before and leftovers(tmp_path) == []


@pytest.mark.parametrize("nodes, links, where", [
    ([tc.NodeDefinition("A", NAN)], [], "nodes[0].memoryLifetimeT2"),
    ([tc.NodeDefinition("A", 1.0)], [tc.LinkDefinition("A", "B", 1.0, 0.9, 1.0),
                                     tc.LinkDefinition("A", "B", INF, 0.9, 1.0)], "links[1].distanceKm"),
])
def test_snapshots_refuse_non_finite_numbers_too(tmp_path, nodes, links, where):
    path = tmp_path / "snapshot.json"
    path.write_text("previous")
    engine = tc.TavoEngine()
    engine.define_network(nodes, links)
    with pytest.raises(ValueError) as raised:
        tc.save_topology(engine, str(path))
    assert raised.value.args == (f"{where} is not a finite number",)
    assert path.read_text() == "previous" and leftovers(tmp_path) == []


@pytest.mark.parametrize("relative", [True, False])
def test_a_symbolic_link_is_followed_and_stays_a_link(tmp_path, relative):
    (tmp_path / "real").mkdir()
    target = tmp_path / "real" / "net.tavo"
    target.write_text("old")
    link = tmp_path / "link.tavo"
    link.symlink_to("real/net.tavo" if relative else target)
    sample_file().save(str(link))
    assert link.is_symlink() and os.readlink(link) == ("real/net.tavo" if relative else str(target))
    assert tc.load(str(target)).metadata.name == "net"
    assert leftovers(tmp_path) == leftovers(tmp_path / "real") == []


def test_a_link_to_a_file_not_there_yet_creates_that_file(tmp_path):
    link = tmp_path / "link.tavo"
    link.symlink_to("made.tavo")
    sample_file().save(str(link))
    assert link.is_symlink() and (tmp_path / "made.tavo").is_file()


def test_a_fifo_is_written_in_place(tmp_path):
    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)
    received = []
    reader = threading.Thread(target=lambda: received.append(fifo.read_text()))
    reader.start()
    sample_file().save(str(fifo))
    reader.join(timeout=10)
    assert received and received[0].startswith('{\n  "version": "1.0"')
    assert stat.S_ISFIFO(os.stat(fifo).st_mode)


def test_a_device_is_written_in_place():
    sample_file().save("/dev/null")
    tc.save_topology(tc.from_tavo_file("examples/demo.tavo"), "/dev/null")
    assert stat.S_ISCHR(os.stat("/dev/null").st_mode)


def test_permission_bits_are_kept_without_setuid_and_setgid(tmp_path):
    path = tmp_path / "net.tavo"
    path.write_text("old")
    os.chmod(path, 0o640)
    sample_file().save(str(path))
    assert stat.S_IMODE(os.stat(path).st_mode) == 0o640
    os.chmod(path, 0o6755)
    sample_file().save(str(path))
    assert stat.S_IMODE(os.stat(path).st_mode) == 0o755


@pytest.mark.skipif(os.geteuid() != 0, reason="only root may give a file to another owner")
def test_owner_and_group_are_kept(tmp_path):
    path = tmp_path / "net.tavo"
    path.write_text("old")
    os.chown(path, 1234, 5678)
    sample_file().save(str(path))
    info = os.stat(path)
    assert (info.st_uid, info.st_gid) == (1234, 5678)


def run_script(script, directory, unprivileged):
    """Runs `script` in a child process in `directory`, as the user nobody when this process is root
    (the child drops its privileges once the interpreter and the module are loaded)."""
    prelude = "import os, stat, tavo_core\n"
    if unprivileged and os.geteuid() == 0:
        prelude += "os.setgroups([]); os.setgid(65534); os.setuid(65534)\n"
    done = subprocess.run([sys.executable, "-c", prelude + textwrap.dedent(script)], cwd=directory,
                          capture_output=True, text=True, timeout=60, env=child_environment())
    assert done.returncode == 0, done.stderr
    return done.stdout


@pytest.fixture
def shared_directory():
    """A directory any user may write in (tmp_path is private to its owner)."""
    directory = tempfile.mkdtemp(prefix="tavo-shared-")
    os.chmod(directory, 0o777)
    yield directory
    subprocess.run(["rm", "-rf", directory], check=True)


def test_a_new_file_gets_the_umask_and_the_umask_stays(shared_directory):
    out = run_script("""
        os.umask(0o027)
        tavo_core.TavoFile("net").save("new.tavo")
        print(oct(stat.S_IMODE(os.stat("new.tavo").st_mode)), oct(os.umask(0o022)))
    """, shared_directory, unprivileged=False)
    assert out.split() == ["0o640", "0o27"]


def test_what_a_plain_write_refuses_is_refused(shared_directory):
    out = run_script("""
        with open("locked.tavo", "w") as file:
            file.write("keep")
        os.chmod("locked.tavo", 0o444)
        try:
            tavo_core.TavoFile("net").save("locked.tavo")
        except PermissionError as error:
            assert isinstance(error, RuntimeError) and error.errno == 13
            print(error)
        os.chmod("locked.tavo", 0o000)
        try:
            tavo_core.load("locked.tavo")
        except PermissionError as error:
            print(error)
        os.chmod("locked.tavo", 0o644)
        print(open("locked.tavo").read(), sorted(n for n in os.listdir(".") if n.startswith(".tavo-")))
    """, shared_directory, unprivileged=True)
    assert out.splitlines() == [
        "IO error: Permission denied (os error 13)",
        "Failed to load locked.tavo: IO error: Permission denied (os error 13)",
        "keep []",
    ]
