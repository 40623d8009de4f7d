"""The configuration, definition and request classes and the engine's network definition, seen from
Python: defaults, copies, attribute conversion, enumerations, signatures and access flags."""

import math
import operator
import re

import pytest
from docs_support import documented_after

import tavo_core
from tavo_core import (
    EntanglementRequest,
    HeraldingScheme,
    LinkDefinition,
    LinkType,
    NetworkTopologyPayload,
    NodeDefinition,
    PhysicalConfig,
    PhysicalModel,
    SatelliteConditions,
    SimulationConfig,
    StrategyType,
    TavoEngine,
)

ENUMS = {
    LinkType: [("Fiber", None), ("Satellite", None)],
    StrategyType: [("LowestLatency", 0), ("HighestFidelity", 1), ("HighestSuccess", 2)],
    HeraldingScheme: [("Direct", None), ("Midpoint", None)],
}

# One instance of every record class, with non-default values wherever there is a choice.
SAMPLES = {
    PhysicalConfig: lambda: PhysicalConfig(0.3),
    SimulationConfig: lambda: SimulationConfig(100.0, 0.5, 0.7, PhysicalModel(swap_success=0.5)),
    PhysicalModel: lambda: PhysicalModel(HeraldingScheme.Midpoint, 0.8, 0.9, 0.25, 28.0, 12.5),
    NodeDefinition: lambda: NodeDefinition("n1", 2.5),
    SatelliteConditions: lambda: SatelliteConditions(0.5, 0.8),
    LinkDefinition: lambda: LinkDefinition(
        "a", "b", 10.0, 0.9, 100.0, LinkType.Satellite, SatelliteConditions(0.4, 0.6)
    ),
    EntanglementRequest: lambda: EntanglementRequest("a", "b", 0.8, 500.0, StrategyType.HighestSuccess),
    NetworkTopologyPayload: lambda: NetworkTopologyPayload(
        [NodeDefinition("a", 1.0), NodeDefinition("b", 2.0)], [LinkDefinition("a", "b", 1.0, 0.9, 5.0)]
    ),
}


def attributes(cls):
    return [name for name, value in vars(cls).items() if type(value).__name__ == "getset_descriptor"]


def plain(value):
    """A value with every record replaced by a dict of its attributes, recursively."""
    if isinstance(value, list):
        return [plain(item) for item in value]
    if type(value) in ENUMS:
        return repr(value)
    if type(value).__module__ == "tavo_core":
        return {name: plain(getattr(value, name)) for name in attributes(type(value))}
    return value


# ---------------------------------------------------------------------------------------------
# Defaults and constructors


@pytest.mark.parametrize(
    "make, expected",
    [
        (PhysicalConfig, {"baseline_purify_factor": 0.022, "speed_of_light_in_fiber_km_ms": 200.0}),
        (lambda: PhysicalConfig(0.2), {"baseline_purify_factor": 0.02, "speed_of_light_in_fiber_km_ms": 200.0}),
        (lambda: PhysicalConfig(3), {"baseline_purify_factor": 3 / 10.0}),
        (SimulationConfig, {"total_time_cutoff_ms": 5000.0, "step_resolution_ms": 0.1,
                            "physical": {"baseline_purify_factor": 0.022, "speed_of_light_in_fiber_km_ms": 200.0}}),
        (lambda: SimulationConfig(alpha_loss_db_km=0.5),
         {"total_time_cutoff_ms": 5000.0, "step_resolution_ms": 0.1,
          "physical": {"baseline_purify_factor": 0.05, "speed_of_light_in_fiber_km_ms": 200.0}}),
        (lambda: SimulationConfig(1.0, 2.0, 0.7),
         {"total_time_cutoff_ms": 1.0, "step_resolution_ms": 2.0,
          "physical": {"baseline_purify_factor": 0.7 / 10.0, "speed_of_light_in_fiber_km_ms": 200.0}}),
        (SatelliteConditions, {"visibility": 1.0, "weather_factor": 1.0}),
        (lambda: SatelliteConditions(weather_factor=0.3), {"visibility": 1.0, "weather_factor": 0.3}),
        (lambda: NodeDefinition("x", 7), {"id": "x", "memory_lifetime_t2": 7.0}),
        (lambda: LinkDefinition("a", "b", 1, 2, 3),
         {"from_node": "a", "to": "b", "distance_km": 1.0, "base_fidelity": 2.0, "generation_rate_hz": 3.0,
          "link_type": "LinkType.Fiber", "satellite_conditions": None}),
        # No value checks: a self-loop with a negative length and an impossible fidelity is kept.
        (lambda: LinkDefinition("a", "a", -5.0, 1.5, 0.0, LinkType.Satellite),
         {"from_node": "a", "to": "a", "distance_km": -5.0, "base_fidelity": 1.5, "generation_rate_hz": 0.0,
          "link_type": "LinkType.Satellite", "satellite_conditions": None}),
        (lambda: EntanglementRequest("s", "t", 1, 2),
         {"from_node": "s", "to": "t", "fidelity_target": 1.0, "max_latency_ms": 2.0, "strategy": None}),
        (lambda: NetworkTopologyPayload((), []), {"nodes": [], "links": []}),
    ],
    ids=["physical", "physical-alpha", "physical-int-alpha", "simulation", "simulation-alpha",
         "simulation-all", "satellite", "satellite-weather", "node", "link", "link-unchecked", "request",
         "payload"],
)
def test_constructed_values(make, expected):
    made = plain(make())
    assert {name: made[name] for name in expected} == expected
    # Floats come back as floats even when ints went in.
    for name, value in expected.items():
        assert type(made[name]) is type(value)


@pytest.mark.parametrize(
    "visibility, weather, base, expected",
    [
        (None, None, 100.0, 100.0),
        (0.5, 0.8, 100.0, 40.0),
        (0.5, 0.8, 100, 40.0),
        # Multiplied left to right: (0.1 * 0.7) * 0.3 differs from 0.1 * (0.7 * 0.3) in the last bit.
        (0.7, 0.3, 0.1, (0.1 * 0.7) * 0.3),
    ],
)
def test_effective_rate(visibility, weather, base, expected):
    rate = SatelliteConditions(visibility, weather).effective_rate(base)
    assert type(rate) is float and rate == expected


def test_effective_rate_by_keyword():
    assert SatelliteConditions(0.5).effective_rate(base_rate=8.0) == 4.0


# ---------------------------------------------------------------------------------------------
# Enumerations


@pytest.mark.parametrize("cls", list(ENUMS), ids=lambda cls: cls.__name__)
def test_enum_members(cls):
    members = [getattr(cls, name) for name, _ in ENUMS[cls]]
    for (name, value), member in zip(ENUMS[cls], members):
        assert type(member) is cls
        assert repr(member) == f"{cls.__name__}.{name}"
        assert getattr(cls, name) is member
        if value is not None:
            assert member.to_u8() == value and type(member.to_u8()) is int
    # Equality is identity.
    for a in members:
        for b in members:
            assert (a == b) is (a is b)
            assert (a != b) is (a is not b)


@pytest.mark.parametrize("cls", list(ENUMS), ids=lambda cls: cls.__name__)
@pytest.mark.parametrize("args", [(), (0,), ("Fiber",)], ids=["no-args", "value", "name"])
def test_enum_has_no_constructor(cls, args):
    with pytest.raises(TypeError) as raised:
        cls(*args)
    assert str(raised.value) == "No constructor defined"


@pytest.mark.parametrize(
    "make, attribute, member",
    [
        (lambda: LinkDefinition("a", "b", 1, 2, 3), "link_type", LinkType.Fiber),
        (lambda: LinkDefinition("a", "b", 1, 2, 3, LinkType.Satellite), "link_type", LinkType.Satellite),
        (lambda: EntanglementRequest("a", "b", 1, 2, StrategyType.HighestFidelity), "strategy",
         StrategyType.HighestFidelity),
        (lambda: EntanglementRequest("a", "b", 1, 2, StrategyType.LowestLatency), "strategy",
         StrategyType.LowestLatency),
    ],
    ids=["link-default", "link-satellite", "strategy-fidelity", "strategy-latency"],
)
def test_enum_attribute_returns_a_new_member_object(make, attribute, member):
    # A new object each time, equal to the member of the same kind.
    owner = make()
    first, second = getattr(owner, attribute), getattr(owner, attribute)
    assert type(first) is type(member)
    assert repr(first) == repr(member)
    assert first is not member and first == member and not first != member
    assert first is not second and first == second
    assert hash(first) == hash(member)
    if hasattr(member, "to_u8"):
        assert first.to_u8() == member.to_u8()


# ---------------------------------------------------------------------------------------------
# Attributes: copies out, conversion in, no deletion


def mutate_physical(physical):
    physical.speed_of_light_in_fiber_km_ms = 1.0


def mutate_conditions(conditions):
    conditions.visibility = 0.01


def mutate_nodes(nodes):
    nodes[0].id = "changed"
    nodes.append(NodeDefinition("extra", 1.0))


def mutate_links(links):
    links[0].to = "changed"
    links.clear()


@pytest.mark.parametrize(
    "cls, attribute, mutate",
    [
        (SimulationConfig, "physical", mutate_physical),
        (LinkDefinition, "satellite_conditions", mutate_conditions),
        (NetworkTopologyPayload, "nodes", mutate_nodes),
        (NetworkTopologyPayload, "links", mutate_links),
    ],
)
def test_getters_return_copies(cls, attribute, mutate):
    owner = SAMPLES[cls]()
    before = plain(owner)
    returned = getattr(owner, attribute)
    assert returned is not getattr(owner, attribute)
    mutate(returned)
    assert plain(owner) == before


def test_assigning_physical_changes_the_configuration():
    config = SimulationConfig()
    config.physical.speed_of_light_in_fiber_km_ms = 1.0
    assert config.physical.speed_of_light_in_fiber_km_ms == 200.0
    physical = PhysicalConfig(0.2)
    physical.speed_of_light_in_fiber_km_ms = 150.0
    config.physical = physical
    assert plain(config.physical) == {"baseline_purify_factor": 0.02, "speed_of_light_in_fiber_km_ms": 150.0}


class Float:
    def __float__(self):
        return 4.25


@pytest.mark.parametrize(
    "cls, attribute, value, expected",
    [
        (SimulationConfig, "step_resolution_ms", 3, 3.0),
        (SimulationConfig, "total_time_cutoff_ms", Float(), 4.25),
        (PhysicalConfig, "speed_of_light_in_fiber_km_ms", True, 1.0),
        (NodeDefinition, "id", "renamed", "renamed"),
        (LinkDefinition, "link_type", LinkType.Fiber, "LinkType.Fiber"),
        (LinkDefinition, "satellite_conditions", None, None),
        (LinkDefinition, "satellite_conditions", SatelliteConditions(0.25),
         {"visibility": 0.25, "weather_factor": 1.0}),
        (EntanglementRequest, "strategy", None, None),
        (EntanglementRequest, "strategy", StrategyType.LowestLatency, "StrategyType.LowestLatency"),
        (NetworkTopologyPayload, "nodes", (NodeDefinition("z", 1),), [{"id": "z", "memory_lifetime_t2": 1.0}]),
        (NetworkTopologyPayload, "links", [], []),
    ],
)
def test_setters_convert(cls, attribute, value, expected):
    owner = SAMPLES[cls]()
    before = plain(owner)
    setattr(owner, attribute, value)
    after = plain(owner)
    assert after[attribute] == expected
    if isinstance(expected, float):
        assert type(getattr(owner, attribute)) is float
    # Nothing else moved.
    assert {k: v for k, v in after.items() if k != attribute} == {
        k: v for k, v in before.items() if k != attribute
    }


def host_error(value):
    """The interpreter's own message for a value that does not convert to a float."""
    try:
        math.fabs(value)
    except (TypeError, OverflowError) as error:
        return str(error)
    raise AssertionError(value)


@pytest.mark.parametrize(
    "cls, attribute, value, error, message",
    [
        (SimulationConfig, "step_resolution_ms", "x", TypeError, host_error("x")),
        (SimulationConfig, "total_time_cutoff_ms", 10**400, OverflowError, host_error(10**400)),
        (NodeDefinition, "id", 5, TypeError, "'int' object cannot be converted to 'PyString'"),
        (SimulationConfig, "physical", 1, TypeError, "'int' object cannot be converted to 'PhysicalConfig'"),
        (SimulationConfig, "physical", None, TypeError,
         "'NoneType' object cannot be converted to 'PhysicalConfig'"),
        (LinkDefinition, "link_type", None, TypeError, "'NoneType' object cannot be converted to 'LinkType'"),
        (LinkDefinition, "link_type", StrategyType.HighestSuccess, TypeError,
         "'StrategyType' object cannot be converted to 'LinkType'"),
        (LinkDefinition, "satellite_conditions", 1.0, TypeError,
         "'float' object cannot be converted to 'SatelliteConditions'"),
        (EntanglementRequest, "strategy", 2, TypeError, "'int' object cannot be converted to 'StrategyType'"),
        (NetworkTopologyPayload, "nodes", [NodeDefinition("x", 1), NodeDefinition("y", 2), 3], TypeError,
         "'int' object cannot be converted to 'NodeDefinition'"),
        (NetworkTopologyPayload, "links", "ab", TypeError, "Can't extract `str` to `Vec`"),
        (NetworkTopologyPayload, "links", 5, TypeError, "'int' object cannot be converted to 'Sequence'"),
    ],
    ids=["float-str", "float-overflow", "text", "class", "class-none", "enum-none", "enum-other",
         "optional-class", "optional-enum", "list-third-element", "list-str", "list-int"],
)
def test_failed_assignment_changes_nothing(cls, attribute, value, error, message):
    owner = SAMPLES[cls]()
    before = plain(owner)
    with pytest.raises(error) as raised:
        setattr(owner, attribute, value)
    assert type(raised.value) is error
    # Attribute assignment has no argument name to add.
    assert str(raised.value) == message
    assert plain(owner) == before


@pytest.mark.parametrize(
    "cls, attribute", [(cls, name) for cls in SAMPLES for name in attributes(cls)],
    ids=lambda item: item if isinstance(item, str) else item.__name__,
)
def test_attributes_cannot_be_deleted(cls, attribute):
    owner = SAMPLES[cls]()
    before = plain(owner)
    with pytest.raises(AttributeError) as raised:
        delattr(owner, attribute)
    assert str(raised.value) == "can't delete attribute"
    assert plain(owner) == before


def test_every_record_attribute_is_listed():
    # Guards the two tests above against silently covering fewer attributes.
    assert {cls.__name__: attributes(cls) for cls in SAMPLES} == {
        "PhysicalConfig": ["baseline_purify_factor", "speed_of_light_in_fiber_km_ms"],
        "SimulationConfig": ["physical", "step_resolution_ms", "total_time_cutoff_ms", "physics"],
        "PhysicalModel": ["scheme", "detector_efficiency", "swap_success", "fiber_loss_db_km",
                          "satellite_loss_db", "link_cutoff_ms"],
        "NodeDefinition": ["id", "memory_lifetime_t2"],
        "SatelliteConditions": ["visibility", "weather_factor"],
        "LinkDefinition": ["from_node", "to", "distance_km", "base_fidelity", "generation_rate_hz",
                           "link_type", "satellite_conditions"],
        "EntanglementRequest": ["from_node", "to", "fidelity_target", "max_latency_ms", "strategy"],
        "NetworkTopologyPayload": ["nodes", "links"],
    }


# ---------------------------------------------------------------------------------------------
# Arguments are copied at the call


def test_constructor_arguments_are_copied():
    conditions = SatelliteConditions(0.5, 0.5)
    node = NodeDefinition("a", 1.0)
    link = LinkDefinition("a", "b", 1.0, 0.9, 5.0, LinkType.Satellite, conditions)
    nodes, links = [node], [link]
    payload = NetworkTopologyPayload(nodes, links)
    before_link, before_payload = plain(link), plain(payload)

    conditions.visibility = 0.0
    node.id = "changed"
    link.distance_km = 99.0
    nodes.append(NodeDefinition("extra", 1.0))
    links.clear()

    assert plain(link) == {**before_link, "distance_km": 99.0}
    assert plain(payload) == before_payload


def test_assigned_values_are_copied():
    config, physical = SimulationConfig(), PhysicalConfig(0.2)
    config.physical = physical
    physical.baseline_purify_factor = 9.0
    assert config.physical.baseline_purify_factor == 0.02

    payload, node = NetworkTopologyPayload([], []), NodeDefinition("a", 1.0)
    payload.nodes = [node]
    node.memory_lifetime_t2 = 9.0
    assert plain(payload.nodes) == [{"id": "a", "memory_lifetime_t2": 1.0}]


# ---------------------------------------------------------------------------------------------
# Signatures, docstrings, representations, subclassing


@pytest.mark.parametrize(
    "path, signature, fixed",
    [
        ("TavoEngine", "(config=None)", None),
        ("PhysicalConfig", "(alpha_loss_db_km=None)", None),
        ("SimulationConfig",
         "(total_time_cutoff_ms=None, step_resolution_ms=None, alpha_loss_db_km=None, physics=None)", None),
        ("NodeDefinition", "(id, memory_lifetime_t2)", None),
        ("SatelliteConditions", "(visibility=None, weather_factor=None)", None),
        ("LinkDefinition", "(from_node, to, distance_km, base_fidelity, generation_rate_hz, link_type=None, "
                           "satellite_conditions=None)", None),
        ("EntanglementRequest", "(from_node, to, fidelity_target, max_latency_ms, strategy=None)", None),
        ("NetworkTopologyPayload", "(nodes, links)", None),
        ("LinkType", None, None),
        ("StrategyType", None, None),
        ("TavoEngine.define_network", "($self, nodes, links)", None),
        ("SatelliteConditions.effective_rate", "($self, base_rate)",
         "Calculate effective generation rate based on conditions"),
        ("StrategyType.to_u8", "($self)", None),
        ("TavoEngine.request_entanglement",
         "($self, from_node, to, fidelity_target, max_latency_ms, strategy=None)", None),
        ("TavoEngine.simulate",
         "($self, from_node, to, fidelity_target, max_latency_ms, runs, strategy=None, seed=None)", None),
    ],
)
def test_text_signature_and_doc(path, signature, fixed):
    owner, *rest = path.split(".")
    value = getattr(tavo_core, owner)
    for name in rest:
        value = getattr(value, name)
    assert value.__text_signature__ == signature
    # Everything is documented; a fixed text comes first.
    if fixed is None:
        assert value.__doc__ and value.__doc__.strip()
    else:
        documented_after(value.__doc__, fixed)


@pytest.mark.parametrize("cls", [NodeDefinition, LinkDefinition, SatelliteConditions, EntanglementRequest,
                                 NetworkTopologyPayload, SimulationConfig, PhysicalConfig, TavoEngine])
def test_class_docstrings_document_the_constructor_and_attributes(cls):
    # The constructor's parameters, in order, under "Args:"; each attribute has its own text.
    parameters = [p.strip().split("=")[0] for p in cls.__text_signature__.strip("()").split(",") if p.strip()]
    section = cls.__doc__.split("\nArgs:\n", 1)[1]
    documented = [line.split(":")[0].strip() for line in section.split("\n")
                  if line.startswith("    ") and not line.startswith("        ")]
    assert documented[:len(parameters)] == parameters
    for name, attribute in vars(cls).items():
        if type(attribute).__name__ == "getset_descriptor" and not name.startswith("__"):
            assert attribute.__doc__ and attribute.__doc__.strip(), name


# The physical model shows its values (see the physics tests); these keep the default form.
RECORDS = [TavoEngine, *(cls for cls in SAMPLES if cls is not PhysicalModel)]


@pytest.mark.parametrize("cls", RECORDS, ids=lambda cls: cls.__name__)
def test_default_representation(cls):
    instance = cls() if cls is TavoEngine else SAMPLES[cls]()
    assert re.fullmatch(rf"<tavo_core\.{cls.__name__} object at 0x[0-9a-f]+>", repr(instance))


@pytest.mark.parametrize("cls", RECORDS + list(ENUMS), ids=lambda cls: cls.__name__)
def test_classes_cannot_be_subclassed(cls):
    with pytest.raises(TypeError, match="is not an acceptable base type"):
        type("Derived", (cls,), {})


# ---------------------------------------------------------------------------------------------
# The engine


def context_of(engine):
    """The inputs an ensemble records, from a simulation of zero runs."""
    return engine.simulate("a", "b", 0.5, 100.0, 0)._context


@pytest.mark.parametrize(
    "make, expected",
    [
        (TavoEngine, (0.12, 5000.0, 0.1)),
        (lambda: TavoEngine(None), (0.12, 5000.0, 0.1)),
        (lambda: TavoEngine(SimulationConfig()), (0.022, 5000.0, 0.1)),
        (lambda: TavoEngine(config=SimulationConfig(10.0, 0.5, 0.2)), (0.02, 10.0, 0.5)),
    ],
    ids=["default", "none", "class-defaults", "given"],
)
def test_engine_configuration(make, expected):
    engine = make()
    engine.define_network([], [])
    context = context_of(engine)
    assert (context.baseline_purify_factor, context.total_time_cutoff_ms, context.step_resolution_ms) == expected


def test_engine_copies_its_configuration():
    config = SimulationConfig(alpha_loss_db_km=0.2)
    engine = TavoEngine(config)
    config.physical = PhysicalConfig(0.9)
    config.total_time_cutoff_ms = 1.0
    engine.define_network([], [])
    context = context_of(engine)
    assert (context.baseline_purify_factor, context.total_time_cutoff_ms) == (0.02, 5000.0)


def network_of(engine):
    context = context_of(engine)
    return sorted(context.nodes), list(context.links)


def test_define_network_builds_and_replaces():
    engine = TavoEngine()
    assert engine.define_network(
        [NodeDefinition("a", 1.0), NodeDefinition("b", 2.0), NodeDefinition("a", 3.0)],
        [LinkDefinition("a", "b", 10.0, 0.9, 100.0), LinkDefinition("b", "ghost", 5.0, 0.8, 50.0),
         LinkDefinition("a", "b", 1.0, 0.7, 10.0, LinkType.Satellite, SatelliteConditions(0.1))],
    ) is None
    nodes, links = network_of(engine)
    # The later of two nodes with one id wins; links keep their order, parallels and unknown ends.
    assert nodes == [("a", 3.0), ("b", 2.0)]
    assert links == [("a", "b", 10.0, 0.9, 100.0), ("b", "ghost", 5.0, 0.8, 50.0), ("a", "b", 1.0, 0.7, 10.0)]

    engine.define_network((NodeDefinition("x", 1.0),), ())
    assert network_of(engine) == ([("x", 1.0)], [])


def link_fields(link):
    conditions = link.satellite_conditions
    return (link.from_node, link.to, link.distance_km, link.base_fidelity, link.generation_rate_hz,
            repr(link.link_type), conditions and (conditions.visibility, conditions.weather_factor))


def test_engine_shows_its_definitions_and_configuration():
    engine = TavoEngine(SimulationConfig(12.0))
    assert (engine.nodes, engine.links, engine.config.total_time_cutoff_ms) == ([], [], 12.0)
    engine.define_network(
        [NodeDefinition("a", 1.0), NodeDefinition("b", 2.0), NodeDefinition("a", 3.0)],
        [LinkDefinition("a", "b", 10.0, 0.9, 100.0),
         LinkDefinition("b", "a", 1.0, 0.7, 10.0, LinkType.Satellite, SatelliteConditions(0.25, 0.5))])
    # The network's own definitions: a redefined node in its first place, satellite conditions kept.
    assert [(n.id, n.memory_lifetime_t2) for n in engine.nodes] == [("a", 3.0), ("b", 2.0)]
    assert [link_fields(link) for link in engine.links] == [
        ("a", "b", 10.0, 0.9, 100.0, "LinkType.Fiber", None),
        ("b", "a", 1.0, 0.7, 10.0, "LinkType.Satellite", (0.25, 0.5))]
    # Copies, and read-only.
    engine.nodes[0].id = "changed"
    engine.links[0].distance_km = 0.0
    engine.config.total_time_cutoff_ms = 1.0
    assert (engine.nodes[0].id, engine.links[0].distance_km, engine.config.total_time_cutoff_ms) == (
        "a", 10.0, 12.0)
    for name in ("nodes", "links", "config"):
        with pytest.raises(AttributeError):
            setattr(engine, name, getattr(engine, name))


def test_define_network_copies_its_arguments():
    engine = TavoEngine()
    node, link = NodeDefinition("a", 1.0), LinkDefinition("a", "b", 10.0, 0.9, 100.0)
    nodes = [node]
    engine.define_network(nodes, [link])
    node.id, link.distance_km = "z", 0.0
    nodes.append(NodeDefinition("late", 1.0))
    assert network_of(engine) == ([("a", 1.0)], [("a", "b", 10.0, 0.9, 100.0)])


def test_failed_definition_keeps_the_previous_network():
    engine = TavoEngine()
    engine.define_network([NodeDefinition("a", 1.0)], [])
    with pytest.raises(TypeError):
        engine.define_network([NodeDefinition("b", 1.0)], [LinkDefinition("a", "b", 1, 1, 1), 2])
    assert network_of(engine) == ([("a", 1.0)], [])


def test_engine_without_network():
    engine = TavoEngine()
    with pytest.raises(RuntimeError) as raised:
        engine.simulate("a", "b", 0.5, 100.0, 1)
    assert str(raised.value) == "No network defined. Call define_network() first."
    engine.define_network([], [])
    assert engine.simulate("a", "b", 0.5, 100.0, 0).total_runs == 0


def test_request_without_network_is_a_runtime_error():
    # Like simulate: a missing network is a usage error the caller can handle, not a crash.
    with pytest.raises(RuntimeError) as raised:
        TavoEngine().request_entanglement("a", "b", 0.5, 100.0)
    assert raised.value.args == ("No network defined. Call define_network() first.",)


# ---------------------------------------------------------------------------------------------
# Exclusive and shared access


class Reentering:
    """A sequence whose first element access runs `action` (which may raise)."""

    def __init__(self, action):
        self.action = action

    def __len__(self):
        return 1

    def __getitem__(self, index):
        if index == 0:
            self.action()
        raise IndexError(index)


# A call converts its arguments before it takes the object it works on: the caller's conversion
# code (a sequence's items, __float__) may use that object, and never finds it held.

@pytest.mark.parametrize("inner", [
    lambda engine: engine.define_network([NodeDefinition("inner", 1.0)], []),
    lambda engine: engine.simulate("before", "before", 0.5, 100.0, 3, None, 1),
    lambda engine: engine.request_entanglement("before", "before", 0.5, 100.0),
], ids=["define_network", "simulate", "request_entanglement"])
def test_conversion_code_may_use_the_engine_being_defined(inner):
    engine = TavoEngine()
    engine.define_network([NodeDefinition("before", 1.0)], [])
    engine.define_network(Reentering(lambda: inner(engine)), [])
    # The outer call replaced the network last, with what its arguments converted to.
    assert network_of(engine) == ([], [])


class ReadingFloat:
    def __init__(self, conditions):
        self.conditions = conditions

    def __float__(self):
        return self.conditions.visibility * 10


class WritingFloat:
    def __init__(self, conditions):
        self.conditions = conditions

    def __float__(self):
        self.conditions.visibility = 0.25
        return 1.0


def test_a_method_reads_its_object_after_converting_its_arguments():
    conditions = SatelliteConditions(0.5, 0.5)
    assert conditions.effective_rate(ReadingFloat(conditions)) == 5.0 * 0.5 * 0.5
    # The assignment made while converting lands first; the method then sees it.
    assert conditions.effective_rate(WritingFloat(conditions)) == 1.0 * 0.25 * 0.5
    assert plain(conditions) == {"visibility": 0.25, "weather_factor": 0.5}


# ---------------------------------------------------------------------------------------------
# Enumeration members compare by kind

ENUMERATIONS = [
    (tavo_core.LinkType, ["Fiber", "Satellite"]),
    (tavo_core.StrategyType, ["LowestLatency", "HighestFidelity", "HighestSuccess"]),
    (tavo_core.BasisType, ["GHZ", "Cluster", "GraphGraph"]),
    (tavo_core.TavoNodeType, ["Ground", "Satellite", "Repeater"]),
    (tavo_core.TavoLinkType, ["Fiber", "Satellite"]),
]
MEMBER_COPIES = {
    tavo_core.LinkType: lambda m: LinkDefinition("a", "b", 1, 2, 3, m).link_type,
    tavo_core.StrategyType: lambda m: EntanglementRequest("a", "b", 1, 2, m).strategy,
    tavo_core.BasisType: lambda m: tavo_core.MeasurementBasis(m).basis_type,
    tavo_core.TavoNodeType: lambda m: tavo_core.TavoNode("a", node_type=m).node_type,
    tavo_core.TavoLinkType: lambda m: tavo_core.TavoLink("l", "a", "b", 1, 1, 1, m).link_type,
}


@pytest.mark.parametrize("enum, names", ENUMERATIONS, ids=[e.__name__ for e, _ in ENUMERATIONS])
def test_members_compare_and_hash_by_kind(enum, names):
    members = [getattr(enum, name) for name in names]
    copies = [MEMBER_COPIES[enum](member) for member in members]
    for i, (member, copy) in enumerate(zip(members, copies)):
        assert copy is not member and copy == member and member == copy and not copy != member
        assert hash(copy) == hash(member)
        assert {copy: i}[member] == i
        for j, other in enumerate(members):
            assert (copy == other) == (i == j) and (copy != other) == (i != j)
        assert member != i and not member == i and member != names[i]
        for operation in ("__lt__", "__le__", "__gt__", "__ge__"):
            with pytest.raises(TypeError):
                getattr(operator, operation[2:4])(member, copy)
    assert len(set(members + copies)) == len(names)


def test_members_of_different_enumerations_never_compare_equal():
    pairs = [(tavo_core.LinkType.Fiber, tavo_core.TavoLinkType.Fiber),
             (tavo_core.LinkType.Satellite, tavo_core.TavoNodeType.Satellite),
             (tavo_core.StrategyType.LowestLatency, tavo_core.BasisType.GHZ)]
    for a, b in pairs:
        assert a != b and not a == b and b != a
