#include "tavo/scheduler/orchestrator.hpp"

namespace tavo {

SimulationResult NetworkOrchestratorPolicy::coordinate_timeline(NetworkTelemetry& telemetry,
                                                                const QuantumNetwork& network,
                                                                SimulationRuntime& runtime,
                                                                const EntanglementRequest& request,
                                                                const ChaCha12Rng* generator) {
    return coordinate_timeline(telemetry, network, runtime, request, generator, ThreadLossDraw{});
}

}  // namespace tavo
