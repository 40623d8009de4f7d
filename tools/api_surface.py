#!/usr/bin/env python3
"""Describes the Python surface of tavo_core as stable text, for the golden file of the test suite.

    python tools/api_surface.py            print the description
    python tools/api_surface.py --write    rewrite tests/golden/api_surface.txt
    python tools/api_surface.py --check    exit with status 1 and a diff when the golden file differs

The module must be importable (for example PYTHONPATH=build/<dir>). Covered: every name of __all__ in
order (class, function, or alias of an earlier name), public module attributes missing from __all__,
the private module functions and classes (a leading underscore), and the module's classes that are
not module attributes (they reach Python only as values), including the exception raised for broken
invariants.
"""

import argparse
import difflib
import pathlib
import sys

GOLDEN = pathlib.Path(__file__).resolve().parent.parent / "tests" / "golden" / "api_surface.txt"

# Class dictionary entries every class has; anything else is described.
ORDINARY = {"__new__", "__doc__", "__module__"}

BASETYPE = 1 << 10  # Py_TPFLAGS_BASETYPE


def sample_objects(module):
    """Objects reached through a short tour of the public API, from which an instance of every class
    is collected (many classes have no constructor). A new class that the tour does not reach makes
    the tool stop and say so."""
    m = module
    engine = m.TavoEngine()
    payload = m.generate_topology("hybrid_satellite_fiber")
    engine.define_network(payload.nodes, payload.links)
    source, target = payload.nodes[0].id, payload.nodes[2].id
    snapshot = engine.snapshot()
    endpoints = m.TopologyEndpoints("repeater_chain", "N0", "N1")
    qkd = m.QKDParameters(source, target, 0.5, 10.0, 1)
    teleportation = m.TeleportationParameters(source, target)
    topology_file = m.TavoFile("sample")
    topology_file.add_node("a", 1.0, 1, m.TavoNodeType.Ground)
    topology_file.add_link("l", "a", "a", 1.0, 1.0, 1.0, m.TavoLinkType.Fiber, m.TavoSatelliteExtension())
    topology_file.config = m.TavoConfig()
    topology_file.constraints = m.TavoConstraints()
    return [
        engine, payload, snapshot, topology_file,
        m.SimulationConfig(),
        m.SimulationConfig(physics=m.PhysicalModel()),
        m.EntanglementRequest(source, target, 0.5, 10.0, m.StrategyType.LowestLatency),
        engine.request_entanglement(source, target, 0.5, 10.0),
        engine.simulate(source, target, 0.5, 10.0, 1, seed=1),
        endpoints,
        m.compare_topologies([endpoints], 0.5, 10.0, 1),
        m.diff_topologies(snapshot, snapshot),
        qkd, engine.run_qkd(qkd), m.QKDStats(1, 0.0, 0.0, 0.0, 0.0),
        teleportation, engine.execute_teleportation(teleportation),
        m.TeleportationStats(1, 0.0, 0.0, 0.0, 0.0),
        m.DistributedComputingParameters([source], m.CoordinationTopology.ring(), m.MeasurementBasis()),
        engine.run_distributed_computation([source, target], "ring", "ghz"),
        m.DistributedComputingStats(1, 0.0, 0.0, 0.0),
    ]


def sample_instances(module):
    """One instance per class of the module, keyed by class: the tour's objects, everything reachable
    from them through attributes and lists, and the members of enumerations."""
    found = {}
    pending = list(sample_objects(module))
    seen = {}  # id -> object, holding every visited object so that no id is reused meanwhile
    while pending:
        value = pending.pop()
        if id(value) in seen:
            continue
        seen[id(value)] = value
        if isinstance(value, (list, tuple)):
            pending.extend(value)
            continue
        cls = type(value)
        if cls.__module__ != module.__name__:
            continue
        found.setdefault(cls, value)
        for name, attribute in vars(cls).items():
            if type(attribute).__name__ == "getset_descriptor":
                pending.append(getattr(value, name))
            elif type(attribute) is cls:
                pending.append(attribute)
    return found


def has_setter(descriptor, instance):
    """Whether an attribute can be assigned: assigning an instance its own current value changes
    nothing where a setter exists, and is refused where none does."""
    try:
        descriptor.__set__(instance, descriptor.__get__(instance, type(instance)))
    except AttributeError:
        return False
    return True


def describe_callable(kind, name, function, indent):
    return [
        f"{indent}{kind} {name}",
        f"{indent}  signature {function.__text_signature__!r}",
        f"{indent}  doc {function.__doc__!r}",
    ]


def describe_class(heading, cls, instances):
    lines = [heading]
    if cls.__qualname__ != heading.split()[-1]:
        lines.append(f"  type name {cls.__qualname__!r}")
    bases = [base.__qualname__ for base in cls.__bases__]
    if bases != ["object"]:
        lines.append(f"  bases {', '.join(bases)}")
    lines.append(f"  signature {getattr(cls, '__text_signature__', None)!r}")
    lines.append(f"  doc {cls.__doc__!r}")
    lines.append(f"  subclassable {'yes' if cls.__flags__ & BASETYPE else 'no'}")
    special = sorted(name for name in vars(cls) if name.startswith("__") and name not in ORDINARY)
    lines.append(f"  special {', '.join(special) or '(none)'}")
    for name, value in vars(cls).items():
        if name in ORDINARY or name in special:
            continue
        kind = type(value).__name__
        if kind == "getset_descriptor":
            if cls not in instances:
                raise SystemExit(f"no sample instance of {cls.__qualname__}: extend sample_objects()")
            writable = has_setter(value, instances[cls])
            lines.append(f"  attribute {name} {'read-write' if writable else 'read-only'}")
        elif kind == "member_descriptor":
            lines.append(f"  attribute {name} (member)")
        elif kind == "method_descriptor":
            lines += describe_callable("method", name, value, "  ")
        elif kind == "classmethod_descriptor":
            lines += describe_callable("class method", name, value, "  ")
        elif kind == "staticmethod":
            lines += describe_callable("static method", name, value.__func__, "  ")
        elif type(value) is cls:
            lines.append(f"  member {name} {value!r}")
        else:
            lines.append(f"  value {name} of type {kind}")
    return lines


def module_classes(module):
    """Every class defined by the module, found through the class hierarchy."""
    found, seen, pending = [], set(), [object]
    while pending:
        cls = pending.pop()
        for sub in type.__subclasses__(cls):
            if id(sub) in seen:
                continue
            seen.add(id(sub))
            pending.append(sub)
            if sub.__module__ == module.__name__:
                found.append(sub)
    return sorted(found, key=lambda cls: cls.__qualname__)


def describe(module):
    instances = sample_instances(module)
    names = list(module.__all__)
    lines = [f"module {module.__name__}", f"  doc {module.__doc__!r}", f"  __all__ {len(names)} names"]
    public = [name for name in vars(module) if not name.startswith("_") and name not in names]
    lines.append(f"  not in __all__ {', '.join(sorted(public)) or '(none)'}")

    exported = {}
    for name in names:
        value = getattr(module, name)
        lines.append("")
        if id(value) in exported:
            lines.append(f"alias {name} = {exported[id(value)]}")
            continue
        exported[id(value)] = name
        if isinstance(value, type):
            lines += describe_class(f"class {name}", value, instances)
        elif callable(value):
            lines += describe_callable("function", name, value, "")
        else:
            lines.append(f"value {name} of type {type(value).__name__}")

    for name in sorted(vars(module)):
        if name.startswith("_") and not name.startswith("__"):
            value = getattr(module, name)
            lines.append("")
            if isinstance(value, type):
                exported[id(value)] = name
                lines += describe_class(f"private class {name}", value, instances)
            elif callable(value):
                lines += describe_callable("private function", name, value, "")
            else:
                # Its value depends on the machine (the kernel chosen for this CPU).
                lines.append(f"private value {name} of type {type(value).__name__}")

    for cls in module_classes(module):
        if id(cls) in exported:
            continue
        kind = "exception" if issubclass(cls, BaseException) else "class"
        lines.append("")
        lines += describe_class(f"unexported {kind} {cls.__qualname__}", cls, instances)
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    action = parser.add_mutually_exclusive_group()
    action.add_argument("--write", action="store_true", help=f"rewrite {GOLDEN}")
    action.add_argument("--check", action="store_true", help="compare with the golden file")
    options = parser.parse_args()

    import tavo_core

    text = describe(tavo_core)
    if options.write:
        GOLDEN.parent.mkdir(parents=True, exist_ok=True)
        GOLDEN.write_text(text)
    elif options.check:
        golden = GOLDEN.read_text() if GOLDEN.exists() else ""
        if golden != text:
            sys.stdout.writelines(
                difflib.unified_diff(golden.splitlines(True), text.splitlines(True), str(GOLDEN), "built module")
            )
            return 1
    else:
        sys.stdout.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
