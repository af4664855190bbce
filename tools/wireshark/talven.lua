-- TALVEN frames for Wireshark and tshark (4.0 or later).
--
-- The testbench (talven-testbench, talven-gateway --pcapng) and lumbrio-sim --pcapng record the
-- frames of the time-slotted TALVEN network with the link type LINKTYPE_USER0 (147). This
-- dissector decodes them: the common header, the Beacon, and the multi-PDU frame (MPDU) with
-- each of its embedded PDUs (ePDUs), the accelerometer sample (SV group 2) and the joystick state
-- (event 8). Structures that do not add up are flagged with expert info; the dissector never
-- reads past the bytes a frame holds.
--
-- Install: copy this file to ~/.local/lib/wireshark/plugins/, or name it for one run:
--   tshark -X lua_script:talven.lua -r capture.pcapng
-- Filters: talven.node == 5, talven.svgroup == 2, talven.event == 8, talven.joystick.up, ...

local talven = Proto("talven", "TALVEN time-slotted sensor network")

local HEADER_LENGTH = 6
local BEACON_LENGTH = 17
local MPDU_HEADER_LENGTH = 7
local BEACON_ADDRESS = "c7c7c7c7"
local MPDU_ADDRESS = "e2e2e2e2"
local ACCELEROMETER_GROUP = 2
local ACCELEROMETER_LENGTH = 6
local JOYSTICK_EVENT = 8
local JOYSTICK_LENGTH = 1

local frame_types = { [0] = "Beacon", [1] = "MPDU" }
local epdu_kinds = { [0] = "SV group", [1] = "Event" }

-- The joystick's bits, as the nodes set them.
local joystick_bits = {
    { "neutral", "Neutral", 0x01 },
    { "left", "Left", 0x02 },
    { "right", "Right", 0x04 },
    { "up", "Up", 0x08 },
    { "down", "Down", 0x10 },
    { "center", "Center", 0x20 },
}

local f = {
    dst = ProtoField.bytes("talven.dst", "Destination", base.COLON),
    src = ProtoField.string("talven.src", "Source"),
    length = ProtoField.uint8("talven.length", "Length field", base.DEC),
    type = ProtoField.uint8("talven.type", "Frame type", base.DEC, frame_types, 0x80),
    node = ProtoField.uint8("talven.node", "Source node", base.DEC, nil, 0x7f),
    node_bits = ProtoField.uint8("talven.node_bits", "Node id bits", base.HEX, nil, 0x7f),

    time = ProtoField.uint32("talven.beacon.time", "Network time", base.DEC),
    clock = ProtoField.string("talven.beacon.clock", "Network time of day"),
    interval = ProtoField.uint24("talven.beacon.interval", "Cycle interval", base.DEC),
    slot = ProtoField.uint16("talven.beacon.slot", "Slot duration", base.DEC),
    svmask = ProtoField.uint16("talven.beacon.svmask", "SV group mask", base.HEX),

    epdu_count = ProtoField.uint8("talven.epdu_count", "ePDU count", base.DEC),
    epdu = ProtoField.bytes("talven.epdu", "ePDU"),
    epdu_kind = ProtoField.uint8("talven.epdu.kind", "Kind", base.DEC, epdu_kinds, 0x80),
    epdu_id = ProtoField.uint8("talven.epdu.id", "Id", base.DEC, nil, 0x78),
    svgroup = ProtoField.uint8("talven.svgroup", "SV group", base.DEC, nil, 0x78),
    event = ProtoField.uint8("talven.event", "Event", base.DEC, nil, 0x78),
    epdu_length = ProtoField.uint8("talven.epdu.length", "Payload length", base.DEC, nil, 0x07),
    payload = ProtoField.bytes("talven.epdu.payload", "Payload"),

    accel_x = ProtoField.int16("talven.accel.x", "Accelerometer x", base.DEC),
    accel_y = ProtoField.int16("talven.accel.y", "Accelerometer y", base.DEC),
    accel_z = ProtoField.int16("talven.accel.z", "Accelerometer z", base.DEC),
    joystick = ProtoField.uint8("talven.joystick", "Joystick", base.HEX),
}

local svmask_bits = {}
for group = 0, 15 do
    svmask_bits[group] = ProtoField.bool("talven.beacon.svmask.group" .. group,
        "SV group " .. group, 16, nil, 2 ^ group)
    f["svmask_" .. group] = svmask_bits[group]
end
local joystick_fields = {}
for i, bit in ipairs(joystick_bits) do
    joystick_fields[i] = ProtoField.bool("talven.joystick." .. bit[1], bit[2], 8, nil, bit[3])
    f["joystick_" .. bit[1]] = joystick_fields[i]
end

local list = {}
for _, field in pairs(f) do
    list[#list + 1] = field
end
talven.fields = list

local e = {
    short = ProtoExpert.new("talven.short", "Frame too short for a TALVEN header",
        expert.group.MALFORMED, expert.severity.ERROR),
    length = ProtoExpert.new("talven.length.mismatch",
        "Length field does not match the frame's length",
        expert.group.MALFORMED, expert.severity.ERROR),
    address = ProtoExpert.new("talven.address.unexpected",
        "Destination is not the address of this frame type",
        expert.group.PROTOCOL, expert.severity.WARN),
    beacon_size = ProtoExpert.new("talven.beacon.size", "Beacon is not 17 bytes long",
        expert.group.MALFORMED, expert.severity.ERROR),
    beacon_node = ProtoExpert.new("talven.beacon.node_bits", "Beacon carries node id bits",
        expert.group.PROTOCOL, expert.severity.WARN),
    no_count = ProtoExpert.new("talven.epdu_count.missing", "MPDU without an ePDU count",
        expert.group.MALFORMED, expert.severity.ERROR),
    missing = ProtoExpert.new("talven.epdu.missing",
        "ePDU count claims more ePDUs than the frame holds",
        expert.group.MALFORMED, expert.severity.ERROR),
    overrun = ProtoExpert.new("talven.epdu.overrun", "ePDU payload runs past the end of the frame",
        expert.group.MALFORMED, expert.severity.ERROR),
    leftover = ProtoExpert.new("talven.epdu.leftover", "Bytes left over after the last ePDU",
        expert.group.MALFORMED, expert.severity.ERROR),
    payload_size = ProtoExpert.new("talven.epdu.size", "Payload of the wrong size",
        expert.group.PROTOCOL, expert.severity.WARN),
    unknown = ProtoExpert.new("talven.epdu.unknown", "ePDU the gateway does not know",
        expert.group.PROTOCOL, expert.severity.WARN),
}
talven.experts = { e.short, e.length, e.address, e.beacon_size, e.beacon_node, e.no_count,
    e.missing, e.overrun, e.leftover, e.payload_size, e.unknown }

local function clock_text(ms)
    return string.format("%02d:%02d:%02d.%03d", math.floor(ms / 3600000),
        math.floor(ms / 60000) % 60, math.floor(ms / 1000) % 60, ms % 1000)
end

local function joystick_text(state)
    local names = {}
    for _, bit in ipairs(joystick_bits) do
        if math.floor(state / bit[3]) % 2 == 1 then
            names[#names + 1] = bit[2]
        end
    end
    return #names > 0 and table.concat(names, "+") or "none"
end

-- The frame's own length field against the bytes it holds.
local function check_length(tvb, tree, length_item, declared)
    local actual = tvb:len()
    if declared + 5 ~= actual then
        length_item:add_proto_expert_info(e.length, string.format(
            "Length field says %d bytes follow the length, the frame holds %d", declared,
            actual - 5))
    end
end

local function dissect_beacon(tvb, pinfo, tree)
    local length = tvb:len()
    if length ~= BEACON_LENGTH then
        tree:add_proto_expert_info(e.beacon_size, string.format(
            "Beacon of %d bytes; a beacon has %d", length, BEACON_LENGTH))
    end
    local info = "Beacon"
    if length >= 10 then
        local time = tvb(6, 4):le_uint()
        tree:add_le(f.time, tvb(6, 4)):append_text(" ms since midnight (" .. clock_text(time) .. ")")
        tree:add(f.clock, tvb(6, 4), clock_text(time)):set_generated()
        info = info .. " " .. clock_text(time)
    end
    if length >= 13 then
        local interval = tvb(10, 3):le_uint()
        tree:add_le(f.interval, tvb(10, 3)):append_text(" ms")
        info = info .. string.format(", interval %d ms", interval)
    end
    if length >= 15 then
        tree:add_le(f.slot, tvb(13, 2)):append_text(" ms")
        info = info .. string.format(", slot %d ms", tvb(13, 2):le_uint())
    end
    if length >= 17 then
        local mask = tvb(15, 2):le_uint()
        local mask_tree = tree:add_le(f.svmask, tvb(15, 2))
        for group = 0, 15 do
            mask_tree:add_le(svmask_bits[group], tvb(15, 2))
        end
        info = info .. string.format(", SV groups 0x%04x", mask)
    end
    pinfo.cols.src = "gateway"
    pinfo.cols.info = info
end

-- One ePDU at `offset` whose payload is known to lie inside the frame. Returns its summary.
local function dissect_epdu(tvb, tree, index, offset, header, size)
    local is_event = math.floor(header / 128) == 1
    local id = math.floor(header / 8) % 16
    local range = tvb(offset, 1 + size)
    local label = string.format("%s %d", is_event and "event" or "SV group", id)
    local sub = tree:add(f.epdu, range)
    sub:set_text(string.format("ePDU %d: %s, %d bytes", index, label, size))
    sub:add(f.epdu_kind, tvb(offset, 1))
    sub:add(f.epdu_id, tvb(offset, 1))
    sub:add(is_event and f.event or f.svgroup, tvb(offset, 1))
    sub:add(f.epdu_length, tvb(offset, 1))
    if size > 0 then
        sub:add(f.payload, tvb(offset + 1, size))
    end

    if not is_event and id == ACCELEROMETER_GROUP then
        if size ~= ACCELEROMETER_LENGTH then
            sub:add_proto_expert_info(e.payload_size, string.format(
                "Accelerometer sample of %d bytes; it has %d", size, ACCELEROMETER_LENGTH))
            return label .. " (wrong size)"
        end
        local p = offset + 1
        sub:add_le(f.accel_x, tvb(p, 2))
        sub:add_le(f.accel_y, tvb(p + 2, 2))
        sub:add_le(f.accel_z, tvb(p + 4, 2))
        return string.format("%s (%d, %d, %d)", label, tvb(p, 2):le_int(),
            tvb(p + 2, 2):le_int(), tvb(p + 4, 2):le_int())
    end
    if is_event and id == JOYSTICK_EVENT then
        if size ~= JOYSTICK_LENGTH then
            sub:add_proto_expert_info(e.payload_size, string.format(
                "Joystick state of %d bytes; it has %d", size, JOYSTICK_LENGTH))
            return label .. " (wrong size)"
        end
        local state = tvb(offset + 1, 1):uint()
        local joy = sub:add(f.joystick, tvb(offset + 1, 1))
        joy:append_text(" (" .. joystick_text(state) .. ")")
        for _, field in ipairs(joystick_fields) do
            joy:add(field, tvb(offset + 1, 1))
        end
        return string.format("%s (%s)", label, joystick_text(state))
    end
    sub:add_proto_expert_info(e.unknown, string.format(
        "%s is unknown to the gateway (it reads SV group 2 and event 8)", label))
    return label .. " (unknown)"
end

local function dissect_mpdu(tvb, pinfo, tree, declared)
    local length = tvb:len()
    local node = tvb(5, 1):uint() % 128
    pinfo.cols.src = "node " .. node
    if length < MPDU_HEADER_LENGTH then
        tree:add_proto_expert_info(e.no_count, "MPDU ends before its ePDU count")
        pinfo.cols.info = string.format("MPDU from node %d, no ePDU count", node)
        return
    end

    local count = tvb(6, 1):uint()
    tree:add(f.epdu_count, tvb(6, 1))
    -- The ePDUs end where the length field says, never past the bytes held.
    local stop = math.min(5 + declared, length)
    local cursor = MPDU_HEADER_LENGTH
    local parts = {}
    local problem
    for index = 0, count - 1 do
        if cursor + 1 > stop then
            tree:add_proto_expert_info(e.missing, string.format(
                "ePDU count says %d, the frame ends after %d", count, index))
            problem = "ePDUs missing"
            break
        end
        local header = tvb(cursor, 1):uint()
        local size = header % 8
        if cursor + 1 + size > stop then
            local item = tree:add(f.epdu, tvb(cursor, stop - cursor))
            item:set_text(string.format("ePDU %d: header announces %d payload bytes, %d left",
                index, size, stop - cursor - 1))
            item:add_proto_expert_info(e.overrun)
            problem = "ePDU runs past the end"
            cursor = stop
            break
        end
        parts[#parts + 1] = dissect_epdu(tvb, tree, index, cursor, header, size)
        cursor = cursor + 1 + size
    end
    if not problem and cursor < stop then
        local item = tree:add(tvb(cursor, stop - cursor), "Left over")
        item:add_proto_expert_info(e.leftover, string.format(
            "%d bytes after the last of %d ePDUs", stop - cursor, count))
        problem = "bytes left over"
    end

    local info = string.format("MPDU from node %d, %d ePDUs", node, count)
    if #parts > 0 then
        info = info .. ": " .. table.concat(parts, ", ")
    end
    if problem then
        info = info .. " [" .. problem .. "]"
    end
    pinfo.cols.info = info
end

function talven.dissector(tvb, pinfo, root)
    local length = tvb:len()
    pinfo.cols.protocol = "TALVEN"
    local tree = root:add(talven, tvb())
    if length < HEADER_LENGTH then
        tree:add_proto_expert_info(e.short, string.format(
            "%d bytes; a frame has at least %d", length, HEADER_LENGTH))
        pinfo.cols.info = string.format("Invalid frame of %d bytes", length)
        return length
    end

    local destination = tostring(tvb(0, 4):bytes()):lower()
    local dst_item = tree:add(f.dst, tvb(0, 4))
    pinfo.cols.dst = tostring(tvb(0, 4):bytes()):lower():gsub("(%x%x)(%x%x)(%x%x)(%x%x)",
        "%1:%2:%3:%4")
    local declared = tvb(4, 1):uint()
    local length_item = tree:add(f.length, tvb(4, 1))
    check_length(tvb, tree, length_item, declared)
    tree:add(f.type, tvb(5, 1))

    local is_mpdu = tvb(5, 1):uint() >= 128
    local expected = is_mpdu and MPDU_ADDRESS or BEACON_ADDRESS
    if destination ~= expected then
        dst_item:add_proto_expert_info(e.address, string.format(
            "%s goes to %s", is_mpdu and "An MPDU" or "A beacon", expected))
    end

    if is_mpdu then
        tree:add(f.node, tvb(5, 1))
        tree:add(f.src, tvb(5, 1), "node " .. tvb(5, 1):uint() % 128):set_generated()
        tree:append_text(", MPDU from node " .. tvb(5, 1):uint() % 128)
        dissect_mpdu(tvb, pinfo, tree, declared)
    else
        local bits = tree:add(f.node_bits, tvb(5, 1))
        if tvb(5, 1):uint() % 128 ~= 0 then
            bits:add_proto_expert_info(e.beacon_node)
        end
        tree:add(f.src, tvb(5, 1), "gateway"):set_generated()
        tree:append_text(", Beacon")
        dissect_beacon(tvb, pinfo, tree)
    end
    return length
end

DissectorTable.get("wtap_encap"):add(wtap_encaps.USER0, talven)
