"""Every argument-binding and conversion message our callables produce, as one table.

A row names its callable by a path: a module attribute ("LinkDefinition"), or a subject from SUBJECTS
followed by a method ("engine.define_network"). Rows whose callable is not registered in this build
are skipped, so rows for callables still being added can sit in the table already.
"""

import math
import operator

import pytest

import tavo_core
from tavo_core import (
    LinkDefinition,
    NetworkTopologyPayload,
    NodeDefinition,
    PhysicalConfig,
    SatelliteConditions,
    SimulationConfig,
    StrategyType,
)


def host_error(convert, value):
    """The interpreter's own message for a failed conversion (its wording varies between versions)."""
    try:
        convert(value)
    except (TypeError, ValueError, OverflowError) as error:
        return str(error)
    raise AssertionError(f"{value!r} converted unexpectedly")


def host_float_error(value):
    return host_error(math.fabs, value)


def host_int_error(value):
    return host_error(operator.index, value)


class NotAFloat:
    def __float__(self):
        return "1.5"


class FloatRefuses:
    def __float__(self):
        raise ValueError("no float here")


class FloatTypeError:
    def __float__(self):
        raise TypeError("not today")


class Iterable:
    """Iterable, but not a sequence."""

    def __iter__(self):
        return iter([])


class BrokenSequence:
    def __init__(self, error):
        self.error = error

    def __len__(self):
        return 1

    def __getitem__(self, index):
        raise self.error


def engine_with_network():
    engine = tavo_core.TavoEngine()
    engine.define_network([], [])
    return engine


# Objects that methods are called on; a fresh one per row.
SUBJECTS = {
    "engine": engine_with_network,
    "satellite": SatelliteConditions,
    "strategy": lambda: StrategyType.HighestFidelity,
}

NODE = NodeDefinition("a", 1.0)
LINK = LinkDefinition("a", "b", 10.0, 0.9, 100.0)

TE = TypeError
FLOAT_STR = host_float_error("x")
FLOAT_NONE = host_float_error(None)
FLOAT_LIST = host_float_error([1.0])
FLOAT_NON_FLOAT = host_float_error(NotAFloat())
FLOAT_TOO_BIG = host_float_error(10**400)


def rows():
    r = pytest.param

    def fail(name, target, args, kwargs, error, message):
        return r(target, args, kwargs, error, message, id=name)

    return [
        # Too many positional arguments.
        fail("positional-all-required", "NodeDefinition", ("a", 1.0, 2.0), {}, TE,
             "NodeDefinition.__new__() takes 2 positional arguments but 3 were given"),
        fail("positional-some-optional", "LinkDefinition", ("a", "b", 1, 2, 3, None, None, 4), {}, TE,
             "LinkDefinition.__new__() takes from 5 to 7 positional arguments but 8 were given"),
        fail("positional-all-optional", "PhysicalConfig", (1.0, 2.0), {}, TE,
             "PhysicalConfig.__new__() takes from 0 to 1 positional arguments but 2 were given"),
        fail("positional-was", "strategy.to_u8", (1,), {}, TE,
             "StrategyType.to_u8() takes 0 positional arguments but 1 was given"),
        fail("positional-method", "engine.define_network", ([], [], []), {}, TE,
             "TavoEngine.define_network() takes 2 positional arguments but 3 were given"),
        fail("positional-one-parameter", "satellite.effective_rate", (1.0, 2.0), {}, TE,
             "SatelliteConditions.effective_rate() takes 1 positional arguments but 2 were given"),
        fail("positional-before-keywords", "NodeDefinition", ("a", 1.0, 2.0), {"bogus": 1}, TE,
             "NodeDefinition.__new__() takes 2 positional arguments but 3 were given"),
        # Unknown keywords.
        fail("keyword-unknown-constructor", "TavoEngine", (), {"configuration": None}, TE,
             "TavoEngine.__new__() got an unexpected keyword argument 'configuration'"),
        fail("keyword-unknown-method", "engine.define_network", ([], []), {"nodez": []}, TE,
             "TavoEngine.define_network() got an unexpected keyword argument 'nodez'"),
        fail("keyword-unknown-no-parameters", "strategy.to_u8", (), {"x": 1}, TE,
             "StrategyType.to_u8() got an unexpected keyword argument 'x'"),
        fail("keyword-unknown-before-missing", "NodeDefinition", (), {"idd": "a"}, TE,
             "NodeDefinition.__new__() got an unexpected keyword argument 'idd'"),
        # A parameter given twice.
        fail("multiple-constructor", "TavoEngine", (None,), {"config": None}, TE,
             "TavoEngine.__new__() got multiple values for argument 'config'"),
        fail("multiple-method", "engine.define_network", ([],), {"nodes": []}, TE,
             "TavoEngine.define_network() got multiple values for argument 'nodes'"),
        # Missing required parameters and how their names are joined.
        fail("missing-one", "engine.define_network", ([],), {}, TE,
             "TavoEngine.define_network() missing 1 required positional argument: 'links'"),
        fail("missing-one-method", "satellite.effective_rate", (), {}, TE,
             "SatelliteConditions.effective_rate() missing 1 required positional argument: 'base_rate'"),
        fail("missing-one-first", "NodeDefinition", (), {"memory_lifetime_t2": 1.0}, TE,
             "NodeDefinition.__new__() missing 1 required positional argument: 'id'"),
        fail("missing-two", "NodeDefinition", (), {}, TE,
             "NodeDefinition.__new__() missing 2 required positional arguments: 'id' and 'memory_lifetime_t2'"),
        fail("missing-two-method", "engine.define_network", (), {}, TE,
             "TavoEngine.define_network() missing 2 required positional arguments: 'nodes' and 'links'"),
        fail("missing-three", "LinkDefinition", ("a", "b"), {}, TE,
             "LinkDefinition.__new__() missing 3 required positional arguments: "
             "'distance_km', 'base_fidelity', and 'generation_rate_hz'"),
        fail("missing-four", "EntanglementRequest", (), {}, TE,
             "EntanglementRequest.__new__() missing 4 required positional arguments: "
             "'from_node', 'to', 'fidelity_target', and 'max_latency_ms'"),
        fail("missing-five", "LinkDefinition", (), {"link_type": None}, TE,
             "LinkDefinition.__new__() missing 5 required positional arguments: "
             "'from_node', 'to', 'distance_km', 'base_fidelity', and 'generation_rate_hz'"),
        fail("missing-around-keyword", "LinkDefinition", ("a",), {"distance_km": 1.0}, TE,
             "LinkDefinition.__new__() missing 3 required positional arguments: "
             "'to', 'base_fidelity', and 'generation_rate_hz'"),
        fail("missing-before-conversion", "NodeDefinition", (1,), {}, TE,
             "NodeDefinition.__new__() missing 1 required positional argument: 'memory_lifetime_t2'"),
        # Text parameters take str only.
        fail("text-int", "NodeDefinition", (1, 1.0), {}, TE,
             "argument 'id': 'int' object cannot be converted to 'PyString'"),
        fail("text-bytes", "LinkDefinition", ("a", b"b", 1, 2, 3), {}, TE,
             "argument 'to': 'bytes' object cannot be converted to 'PyString'"),
        fail("text-none", "NodeDefinition", (None, 1.0), {}, TE,
             "argument 'id': 'NoneType' object cannot be converted to 'PyString'"),
        # Floats go through the interpreter.
        fail("float-str", "NodeDefinition", ("a", "x"), {}, TE,
             f"argument 'memory_lifetime_t2': {FLOAT_STR}"),
        fail("float-list", "SatelliteConditions", ([1.0],), {}, TE,
             f"argument 'visibility': {FLOAT_LIST}"),
        fail("float-none-required", "NodeDefinition", ("a", None), {}, TE,
             f"argument 'memory_lifetime_t2': {FLOAT_NONE}"),
        fail("float-optional-given", "PhysicalConfig", ("x",), {}, TE,
             f"argument 'alpha_loss_db_km': {FLOAT_STR}"),
        fail("float-dunder-non-float", "NodeDefinition", ("a", NotAFloat()), {}, TE,
             f"argument 'memory_lifetime_t2': {FLOAT_NON_FLOAT}"),
        fail("float-dunder-type-error", "NodeDefinition", ("a", FloatTypeError()), {}, TE,
             "argument 'memory_lifetime_t2': not today"),
        fail("float-method", "satellite.effective_rate", ("x",), {}, TE,
             f"argument 'base_rate': {FLOAT_STR}"),
        # Conversion runs in signature order, whatever order the keywords came in.
        fail("order-keywords", "NodeDefinition", (), {"memory_lifetime_t2": "x", "id": 1}, TE,
             "argument 'id': 'int' object cannot be converted to 'PyString'"),
        fail("order-optional", "SimulationConfig", (), {"alpha_loss_db_km": "a", "step_resolution_ms": "b"}, TE,
             f"argument 'step_resolution_ms': {FLOAT_STR}"),
        fail("order-first-wins", "LinkDefinition", ("a", "b", "x", "y", 1), {}, TE,
             f"argument 'distance_km': {FLOAT_STR}"),
        # Class parameters take an instance of that class.
        fail("class-int", "TavoEngine", (1,), {}, TE,
             "argument 'config': 'int' object cannot be converted to 'SimulationConfig'"),
        fail("class-other-class", "TavoEngine", (PhysicalConfig(),), {}, TE,
             "argument 'config': 'PhysicalConfig' object cannot be converted to 'SimulationConfig'"),
        fail("class-enum-int", "EntanglementRequest", ("a", "b", 0.5, 1.0, 1), {}, TE,
             "argument 'strategy': 'int' object cannot be converted to 'StrategyType'"),
        fail("class-other-enum", "LinkDefinition", ("a", "b", 1, 2, 3, StrategyType.LowestLatency), {}, TE,
             "argument 'link_type': 'StrategyType' object cannot be converted to 'LinkType'"),
        fail("class-optional-record", "LinkDefinition", ("a", "b", 1, 2, 3), {"satellite_conditions": 1.0}, TE,
             "argument 'satellite_conditions': 'float' object cannot be converted to 'SatelliteConditions'"),
        # Sequences.
        fail("sequence-str", "NetworkTopologyPayload", ("ab", []), {}, TE,
             "argument 'nodes': Can't extract `str` to `Vec`"),
        fail("sequence-str-method", "engine.define_network", ([], "ab"), {}, TE,
             "argument 'links': Can't extract `str` to `Vec`"),
        fail("sequence-int", "engine.define_network", (1, []), {}, TE,
             "argument 'nodes': 'int' object cannot be converted to 'Sequence'"),
        fail("sequence-none", "engine.define_network", (None, []), {}, TE,
             "argument 'nodes': 'NoneType' object cannot be converted to 'Sequence'"),
        fail("sequence-dict", "engine.define_network", ({}, []), {}, TE,
             "argument 'nodes': 'dict' object cannot be converted to 'Sequence'"),
        fail("sequence-set", "NetworkTopologyPayload", ([], set()), {}, TE,
             "argument 'links': 'set' object cannot be converted to 'Sequence'"),
        fail("sequence-iterable", "NetworkTopologyPayload", (Iterable(), []), {}, TE,
             "argument 'nodes': 'Iterable' object cannot be converted to 'Sequence'"),
        fail("sequence-generator", "engine.define_network", ((n for n in [NODE]), []), {}, TE,
             "argument 'nodes': 'generator' object cannot be converted to 'Sequence'"),
        fail("element-int", "engine.define_network", ([NODE, 1], []), {}, TE,
             "argument 'nodes': 'int' object cannot be converted to 'NodeDefinition'"),
        fail("element-none", "NetworkTopologyPayload", ([None], []), {}, TE,
             "argument 'nodes': 'NoneType' object cannot be converted to 'NodeDefinition'"),
        fail("element-wrong-class", "engine.define_network", ([], (LINK, NODE)), {}, TE,
             "argument 'links': 'NodeDefinition' object cannot be converted to 'LinkDefinition'"),
        fail("element-bytes", "engine.define_network", (b"ab", []), {}, TE,
             "argument 'nodes': 'int' object cannot be converted to 'NodeDefinition'"),
        fail("element-iteration-type-error", "engine.define_network", (BrokenSequence(TypeError("torn")), []), {},
             TE, "argument 'nodes': torn"),
        # Anything but a TypeError passes through as it is, without the argument prefix.
        fail("passthrough-float-overflow", "NodeDefinition", ("a", 10**400), {}, OverflowError, FLOAT_TOO_BIG),
        fail("passthrough-dunder-value-error", "SimulationConfig", (FloatRefuses(),), {}, ValueError,
             "no float here"),
        fail("passthrough-text-encoding", "NodeDefinition", ("\ud800", 1.0), {}, UnicodeEncodeError,
             host_error(str.encode, "\ud800")),
        fail("passthrough-iteration-error", "engine.define_network", (BrokenSequence(LookupError("gone")), []),
             {}, LookupError, "gone"),
        # Callables still being registered.
        fail("request-strategy-int", "engine.request_entanglement", ("a", "b", 0.5, 1.0, 1), {}, TE,
             "argument 'strategy': 'int' object cannot be converted to 'StrategyType'"),
        fail("request-missing", "engine.request_entanglement", ("a", "b"), {}, TE,
             "TavoEngine.request_entanglement() missing 2 required positional arguments: "
             "'fidelity_target' and 'max_latency_ms'"),
        fail("request-too-many", "engine.request_entanglement", ("a", "b", 0.5, 1.0, None, None), {}, TE,
             "TavoEngine.request_entanglement() takes from 4 to 5 positional arguments but 6 were given"),
        fail("simulate-runs-float", "engine.simulate", ("a", "b", 0.5, 1.0, 1.5), {}, TE,
             f"argument 'runs': {host_int_error(1.5)}"),
        fail("simulate-runs-str", "engine.simulate", ("a", "b", 0.5, 1.0, "3"), {}, TE,
             f"argument 'runs': {host_int_error('3')}"),
        fail("simulate-runs-negative", "engine.simulate", ("a", "b", 0.5, 1.0, -1), {}, OverflowError,
             "can't convert negative int to unsigned"),
        fail("simulate-seed-too-big", "engine.simulate", ("a", "b", 0.5, 1.0, 0), {"seed": 2**64}, OverflowError,
             "int too big to convert"),
        fail("simulate-missing", "engine.simulate", ("a",), {"runs": 1}, TE,
             "TavoEngine.simulate() missing 3 required positional arguments: "
             "'to', 'fidelity_target', and 'max_latency_ms'"),
        fail("tavo-file-none", "engine.define_network_from_tavo", (None,), {}, TE,
             "argument 'qf': 'NoneType' object cannot be converted to 'TavoFile'"),
    ]


def resolve(target):
    head, *rest = target.split(".")
    value = SUBJECTS[head]() if head in SUBJECTS else getattr(tavo_core, head, None)
    for name in rest:
        value = getattr(value, name, None)
    if value is None:
        pytest.skip(f"{target} is not registered in this build")
    return value


@pytest.mark.parametrize("target, args, kwargs, error, message", rows())
def test_message(target, args, kwargs, error, message):
    function = resolve(target)
    with pytest.raises(error) as raised:
        function(*args, **kwargs)
    assert type(raised.value) is error
    assert str(raised.value) == message


@pytest.mark.parametrize(
    "make, omitted",
    [
        (lambda: PhysicalConfig(None), PhysicalConfig),
        (lambda: PhysicalConfig(alpha_loss_db_km=None), PhysicalConfig),
        (lambda: SimulationConfig(None, None, None), SimulationConfig),
        (lambda: SimulationConfig(step_resolution_ms=None), SimulationConfig),
        (lambda: SatelliteConditions(None, 0.5), lambda: SatelliteConditions(weather_factor=0.5)),
        (lambda: LinkDefinition("a", "b", 1, 2, 3, None, None), lambda: LinkDefinition("a", "b", 1, 2, 3)),
        (lambda: tavo_core.EntanglementRequest("a", "b", 0.5, 1.0, None),
         lambda: tavo_core.EntanglementRequest("a", "b", 0.5, 1.0)),
    ],
    ids=["physical", "physical-keyword", "simulation", "simulation-keyword", "satellite", "link", "request"],
)
def test_none_for_optional_equals_omission(make, omitted):
    assert plain(make()) == plain(omitted())


def plain(value):
    """A record's attributes as plain Python values, following class-typed attributes."""
    if isinstance(value, (str, float, int, type(None))):
        return value
    if type(value) in (tavo_core.LinkType, StrategyType):
        return repr(value)
    names = [name for name, kind in vars(type(value)).items() if type(kind).__name__ == "getset_descriptor"]
    return {name: plain(getattr(value, name)) for name in names}


class IndexOnly:
    def __index__(self):
        return 3


class CountingFloat:
    def __init__(self, calls):
        self.calls = calls

    def __float__(self):
        self.calls.append(self)
        return 1.0


def test_conversion_stops_at_first_failure():
    calls = []
    first, later = CountingFloat(calls), CountingFloat(calls)
    with pytest.raises(TypeError, match="^argument 'base_fidelity': "):
        LinkDefinition("a", "b", first, "bad", later)
    assert calls == [first]


@pytest.mark.parametrize(
    "value, expected",
    [(2, 2.0), (True, 1.0), (CountingFloat([]), 1.0), (IndexOnly(), 3.0)],
    ids=["int", "bool", "dunder-float", "dunder-index"],
)
def test_floats_accept_what_the_interpreter_converts(value, expected):
    converted = NodeDefinition("a", value).memory_lifetime_t2
    assert type(converted) is float and converted == expected


def test_sequences_of_any_kind_are_accepted():
    class Indexable:
        def __len__(self):
            return 2

        def __getitem__(self, index):
            if index >= 2:
                raise IndexError(index)
            return NodeDefinition(f"n{index}", float(index))

    for nodes in ([NODE], (NODE,), Indexable()):
        payload = NetworkTopologyPayload(nodes, ())
        assert [node.id for node in payload.nodes] == [node.id for node in nodes]
