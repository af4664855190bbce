#pragma once

#include <QVector3D>

#include <cstdint>

// What the gateway knows about one sensor node. Created by the node's first MPDU and owned by the
// TalvenNetwork that received it; the engine writes it from its reception and cycle handling, the
// table model and the timeline read it. GUI thread only.
struct NodeState
{
    explicit NodeState(uint8_t nodeId)
        : id(nodeId)
    {}

    uint8_t id;
    bool answered = false;
    // -1 while the cycle runs and the node has not answered; 0 after a cycle without answer.
    int16_t delay = 0;
    bool inSlot = false;
    uint32_t errorCount = 0;
    uint32_t joystick = 1;
    QVector3D accelerometer;
};
