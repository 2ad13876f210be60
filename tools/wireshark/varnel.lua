-- Wireshark dissector for the Varnel board's resident loader: the read, erase,
-- program and lock frames Tovrin exchanges with the board, over UDP (tool port
-- 1234, board port 1235) and TCP (board port 1234).
--
-- Install: copy this file into Wireshark's Lua plugins folder (personal, or
-- global for every user; Help > About Wireshark > Folders names both), or load
-- it for one run: tshark -X lua_script:varnel.lua -r capture.pcap
-- Requests are matched to their replies both ways once the whole capture has
-- been read: Wireshark does it by itself, tshark needs -2. Over TCP,
-- Wireshark's reassembly puts frames split over segments together; segments
-- that came out of order wait for the ones before them only with TCP's
-- "Reassemble out-of-order segments" (tshark -o
-- tcp.reassemble_out_of_order:TRUE).
--
-- It checks a frame as the tool does: the lengths each command has, the
-- acknowledgement byte, the echoed address, and the word checksum (the sum,
-- modulo 2^32, of the address word and each data word). Over UDP it follows the
-- sequence byte as the tool does: a request sent again unchanged is a resend,
-- and a reply whose sequence byte is not that of the request in flight (or
-- that comes again after the request was answered) is stale, passed over.

-- A copy installed in a plugins folder and one given with -X lua_script would
-- register the protocol twice; the first one loaded serves.
if varnel_dissector_loaded then return end
varnel_dissector_loaded = true

local varnel = Proto("varnel", "Varnel loader")

-- The loader's numbers, as the tool's frames and the board use them.
local K = {
  tcp_board_port = 1234,
  udp_tool_port = 1234,
  udp_board_port = 1235,
  lead = 0x66,           -- 'f'
  read = 0x75,           -- 'u'
  erase = 0x65,          -- 'e'
  program = 0x70,        -- 'p'
  lock = 0x6C,           -- 'l'
  ack = 0x4F,            -- 'O'; any other byte is a refusal
  count_at = 2,          -- offsets after the UDP sequence byte
  ack_at = 2,
  address_at = 3,
  data_at = 7,
  read_reply_overhead = 11,  -- a read reply is 4 * count + 11 bytes
  longest_reply = 128,       -- the tool receives every reply into 128 bytes
  identity_address = 0x420,
  identity_length = 16,
  serial_max = 15,
  hardware_at = 10,
  hardware_length = 4,
  port_type_tcp = 2,         -- pinfo.port_type
}

local COMMAND_NAMES = {
  [K.read] = "read", [K.erase] = "erase", [K.program] = "program", [K.lock] = "lock",
}
local REQUEST_LENGTH = { [K.read] = 7, [K.erase] = 2, [K.program] = 75, [K.lock] = 2 }
local REPLY_LENGTH = { [K.erase] = 3, [K.lock] = 3, [K.program] = 7 }  -- read: from its count

local f = {
  seq = ProtoField.uint8("varnel.seq", "Sequence byte", base.DEC),
  reply = ProtoField.bool("varnel.reply", "Reply"),
  lead = ProtoField.uint8("varnel.lead", "Lead byte", base.HEX),
  command = ProtoField.uint8("varnel.command", "Command", base.HEX, COMMAND_NAMES),
  count = ProtoField.int8("varnel.count", "Word count", base.DEC),
  address = ProtoField.uint32("varnel.address", "Address", base.HEX),
  echo = ProtoField.uint32("varnel.echo", "Echoed address", base.HEX),
  data = ProtoField.bytes("varnel.data", "Data"),
  word = ProtoField.uint32("varnel.word", "Word", base.HEX),
  checksum = ProtoField.uint32("varnel.checksum", "Checksum", base.HEX),
  checksum_computed = ProtoField.uint32("varnel.checksum.computed", "Computed checksum", base.HEX),
  checksum_good = ProtoField.bool("varnel.checksum.good", "Checksum good"),
  ack = ProtoField.uint8("varnel.ack", "Acknowledgement", base.HEX, { [K.ack] = "ack" }),
  revision = ProtoField.string("varnel.identity.revision", "Revision"),
  serial = ProtoField.string("varnel.identity.serial", "Serial number"),
  hardware = ProtoField.string("varnel.identity.hardware", "Hardware code"),
  response_in = ProtoField.framenum("varnel.response_in", "Reply in", base.NONE, frametype.RESPONSE),
  response_to = ProtoField.framenum("varnel.response_to", "Request in", base.NONE, frametype.REQUEST),
  time = ProtoField.relative_time("varnel.time", "Round-trip time"),
  resend = ProtoField.bool("varnel.resend", "Resend"),
  resend_of = ProtoField.framenum("varnel.resend_of", "First sent in", base.NONE, frametype.RETRANS_PREV),
  stale = ProtoField.bool("varnel.stale", "Stale (the tool passes it over)"),
}
varnel.fields = {
  f.seq, f.reply, f.lead, f.command, f.count, f.address, f.echo, f.data, f.word, f.checksum,
  f.checksum_computed, f.checksum_good, f.ack, f.revision, f.serial, f.hardware, f.response_in,
  f.response_to, f.time, f.resend, f.resend_of, f.stale,
}

local e = {
  refused = ProtoExpert.new("varnel.expert.refused", "Refused by the board",
                            expert.group.RESPONSE_CODE, expert.severity.WARN),
  wrong_echo = ProtoExpert.new("varnel.expert.wrong_echo", "Wrong echoed address",
                               expert.group.SEQUENCE, expert.severity.ERROR),
  bad_length = ProtoExpert.new("varnel.expert.bad_length", "Length does not fit the command",
                               expert.group.MALFORMED, expert.severity.ERROR),
  bad_checksum = ProtoExpert.new("varnel.expert.bad_checksum", "Bad checksum",
                                 expert.group.CHECKSUM, expert.severity.ERROR),
  not_frame = ProtoExpert.new("varnel.expert.not_frame", "Not a loader frame",
                              expert.group.MALFORMED, expert.severity.ERROR),
  resend = ProtoExpert.new("varnel.expert.resend", "Request sent again",
                           expert.group.SEQUENCE, expert.severity.NOTE),
  stale = ProtoExpert.new("varnel.expert.stale", "Stale reply",
                          expert.group.SEQUENCE, expert.severity.WARN),
  unmatched = ProtoExpert.new("varnel.expert.unmatched", "Reply without a request",
                              expert.group.SEQUENCE, expert.severity.WARN),
  no_reply = ProtoExpert.new("varnel.expert.no_reply", "No reply",
                             expert.group.SEQUENCE, expert.severity.NOTE),
  wrong_command = ProtoExpert.new("varnel.expert.wrong_command", "Reply to another command",
                                  expert.group.SEQUENCE, expert.severity.ERROR),
  split = ProtoExpert.new("varnel.expert.split", "Reply split over TCP segments",
                          expert.group.REASSEMBLE, expert.severity.WARN),
}
varnel.experts = {
  e.refused, e.wrong_echo, e.bad_length, e.bad_checksum, e.not_frame, e.resend, e.stale, e.unmatched,
  e.no_reply, e.wrong_command, e.split,
}

-- What the first pass over a capture learns, kept for every later pass (the
-- display): per UDP datagram, what its frame was matched to; per
-- conversation, the requests in flight.
local frames = {}
local udp_talks = {}
local tcp_talks = {}
-- The TCP frames the first pass found, by packet and place: "number:offset"
-- for a frame within a segment (the offset counted from the packet's start),
-- "number+offset" within a frame put together from segments.
local tcp_frames = {}

function varnel.init()
  frames = {}
  udp_talks = {}
  tcp_talks = {}
  tcp_frames = {}
end

-- Small helpers -------------------------------------------------------------

local function flash_address(value)
  return string.format("0x%05X", value)
end

local function byte_at(bytes, offset)  -- offset from 0
  return bytes:byte(offset + 1)
end

local function word_at(bytes, offset)
  local b1, b2, b3, b4 = bytes:byte(offset + 1, offset + 4)
  return ((b1 * 256 + b2) * 256 + b3) * 256 + b4
end

local function signed_byte(value)
  return value >= 128 and value - 256 or value
end

-- The word checksum as the tool computes it: the sum of `count` big-endian
-- words from `offset` (the address word first), modulo 2^32.
local function word_sum(bytes, offset, count)
  local sum = 0
  for i = 0, count - 1 do
    sum = (sum + word_at(bytes, offset + 4 * i)) % 4294967296
  end
  return sum
end

-- The identity record's texts as the tool shows them: each field up to its
-- first NUL, bytes outside printable ASCII as \xHH.
local function identity_text(bytes, offset, length)
  local out = {}
  for i = 0, length - 1 do
    local b = byte_at(bytes, offset + i)
    if b == nil or b == 0 then break end
    if b >= 0x20 and b < 0x7F and b ~= 0x5C then
      out[#out + 1] = string.char(b)
    else
      out[#out + 1] = string.format("\\x%02X", b)
    end
  end
  return table.concat(out)
end

local function endpoint(address, port)
  return tostring(address) .. ":" .. tostring(port)
end

local function is_tcp(pinfo)
  return pinfo.port_type == K.port_type_tcp
end

-- Replies travel from the board: over TCP from its port 1234; over UDP from its
-- port 1235, or to the tool's port 1234 from elsewhere (a foreign sender).
local function is_reply(pinfo)
  if is_tcp(pinfo) then
    return pinfo.src_port == K.tcp_board_port and pinfo.dst_port ~= K.tcp_board_port
  end
  if pinfo.src_port == K.udp_board_port then return true end
  if pinfo.dst_port == K.udp_board_port then return false end
  return pinfo.dst_port == K.udp_tool_port
end

-- The length of the frame that starts `bytes` (after any sequence byte):
-- a number, nil when more bytes are needed to tell, or false when the bytes
-- start no loader frame.
local function frame_length(bytes, reply)
  if #bytes < 2 then
    if #bytes == 1 and byte_at(bytes, 0) ~= K.lead then return false end
    return nil
  end
  local command = byte_at(bytes, 1)
  if byte_at(bytes, 0) ~= K.lead or COMMAND_NAMES[command] == nil then return false end
  if not reply then return REQUEST_LENGTH[command] end
  if command ~= K.read then return REPLY_LENGTH[command] end
  if #bytes < 3 then return nil end
  local count = signed_byte(byte_at(bytes, K.count_at))
  if count < 0 then return #bytes end  -- no length fits; the rest is taken as it is
  return 4 * count + K.read_reply_overhead
end

-- Matching (first pass only) --------------------------------------------------

-- A request's facts that its reply is checked against.
local function request_facts(bytes)
  local facts = { command = byte_at(bytes, 1) }
  if (facts.command == K.read or facts.command == K.program) and #bytes >= K.address_at + 4 then
    facts.address = word_at(bytes, K.address_at)
  end
  if #bytes > K.count_at then facts.count = signed_byte(byte_at(bytes, K.count_at)) end
  return facts
end

local function match_reply(record, exchange, pinfo)
  exchange.answered = pinfo.number
  for _, sent in ipairs(exchange.sends) do sent.response_in = pinfo.number end
  record.response_to = exchange.frame
  record.rtt_us = math.floor((pinfo.abs_ts - exchange.ts) * 1e6 + 0.5)
  record.request = exchange.facts
  record.answers = exchange
end

-- Over UDP a talk is the tool's endpoint and the board's address: the board's
-- port may change, but a datagram from another address is not the board's.
local function analyse_udp(pinfo, datagram, reply)
  local record = { reply = reply }
  if #datagram < 1 then return record end
  local seq = byte_at(datagram, 0)
  local body = datagram:sub(2)
  if not reply then
    local key = endpoint(pinfo.src, pinfo.src_port) .. ">" .. tostring(pinfo.dst)
    local talk = udp_talks[key] or { by_seq = {} }
    udp_talks[key] = talk
    local last = talk.last
    if last and not last.answered and last.seq == seq and last.bytes == datagram then
      record.resend_of = last.frame
      last.sends[#last.sends + 1] = record
    else
      local exchange = { seq = seq, bytes = datagram, frame = pinfo.number, ts = pinfo.abs_ts,
                         facts = request_facts(body), sends = { record } }
      record.exchange = exchange
      talk.last = exchange
      talk.by_seq[seq] = exchange
    end
    return record
  end
  local key = endpoint(pinfo.dst, pinfo.dst_port) .. ">" .. tostring(pinfo.src)
  local talk = udp_talks[key]
  local last = talk and talk.last
  if last == nil then
    record.unmatched = true
  elseif last.seq ~= seq then
    local earlier = talk.by_seq[seq]
    record.stale = string.format("sequence %d, the request in flight (frame %d) carries %d", seq, last.frame,
                                 last.seq)
    if earlier then record.stale = record.stale .. string.format("; answers frame %d", earlier.frame) end
  elseif last.answered then
    record.stale = string.format("sequence %d again: frame %d was answered in frame %d", seq, last.frame,
                                 last.answered)
  else
    match_reply(record, last, pinfo)
  end
  return record
end

-- Over TCP the board answers one request at a time, in order.
local function tcp_talk(pinfo, reply)
  local tool = reply and endpoint(pinfo.dst, pinfo.dst_port) or endpoint(pinfo.src, pinfo.src_port)
  local board = reply and endpoint(pinfo.src, pinfo.src_port) or endpoint(pinfo.dst, pinfo.dst_port)
  local key = tool .. ">" .. board
  local talk = tcp_talks[key] or { waiting = {} }
  tcp_talks[key] = talk
  return talk
end

local function analyse_tcp_frame(pinfo, talk, bytes, reply)
  local record = { reply = reply }
  if not reply then
    local exchange = { frame = pinfo.number, ts = pinfo.abs_ts, facts = request_facts(bytes), sends = { record } }
    record.exchange = exchange
    talk.waiting[#talk.waiting + 1] = exchange
  elseif #talk.waiting == 0 then
    record.unmatched = true
  else
    match_reply(record, table.remove(talk.waiting, 1), pinfo)
  end
  return record
end

-- The length of the TCP frame that starts `bytes`, as frame_length tells it,
-- except that a read reply is never taken longer than the words its request
-- asked for: the tool reads the reply it asked for, and a reply whose count
-- claims more than came would otherwise swallow the next reply's bytes (or
-- wait for ever at the end of the capture).
local function tcp_frame_length(pinfo, bytes, reply)
  local length = frame_length(bytes, reply)
  if not (length and reply and byte_at(bytes, 1) == K.read) then return length end
  local waiting = tcp_talk(pinfo, reply).waiting[1]
  local asked = waiting and waiting.facts.command == K.read and waiting.facts.count
  if asked and asked >= 0 then return math.min(length, 4 * asked + K.read_reply_overhead) end
  return length
end

-- Display --------------------------------------------------------------------

-- Adds the frame in `tvb` (after `header` bytes: the UDP sequence byte) to
-- `tree` and returns its Info text. `piece.split`: it was put together from
-- TCP segments.
local function show_frame(tvb, header, tree, record, piece, pinfo)
  local bytes = tvb:raw(header)
  local n = #bytes
  local item = tree:add(varnel, tvb())
  local info = {}
  local reply = record.reply

  if header > 0 then item:add(f.seq, tvb(0, 1)) end
  item:add(f.reply, reply):set_generated()
  if n < 2 or byte_at(bytes, 0) ~= K.lead or COMMAND_NAMES[byte_at(bytes, 1)] == nil then
    if n >= 1 then item:add(f.lead, tvb(header, 1)) end
    if n >= 2 then item:add(f.command, tvb(header + 1, 1)) end
    item:add_proto_expert_info(e.not_frame, n == 0 and "Not a loader frame: nothing after the sequence byte" or
                               string.format("Not a loader frame: %d byte%s from 0x%02X", n, n == 1 and "" or "s",
                                             byte_at(bytes, 0)))
    item:set_text("Varnel loader, not a loader frame")
    return "not a loader frame"
  end

  local command = byte_at(bytes, 1)
  local name = COMMAND_NAMES[command]
  item:add(f.lead, tvb(header, 1))
  item:add(f.command, tvb(header + 1, 1))
  local function range(offset, length) return tvb(header + offset, length) end
  local function has(offset, length) return n >= offset + length end

  -- The length this command's frame must have (-1: none can), a name for it,
  -- and how the Info column says what was expected.
  local expected, what
  if not reply then
    expected, what = REQUEST_LENGTH[command], name .. " request"
  elseif command ~= K.read then
    expected, what = REPLY_LENGTH[command], name .. " reply"
  elseif has(K.count_at, 1) then
    local count = signed_byte(byte_at(bytes, K.count_at))
    expected = count < 0 and -1 or 4 * count + K.read_reply_overhead
    what = string.format("read reply of %d words", count)
  end
  local function expected_text()
    if expected < 0 then return string.format("count %d", signed_byte(byte_at(bytes, K.count_at))) end
    return string.format("%d expected", expected)
  end

  -- Address, data words and checksum where the command has them.
  local address
  -- Requests name their word count there; of the replies only the read's does.
  if (command == K.read or (command == K.program and not reply)) and has(K.count_at, 1) then
    item:add(f.count, range(K.count_at, 1))
  end
  if (command == K.read or command == K.program) and has(K.address_at, 4) then
    address = word_at(bytes, K.address_at)
    item:add(reply and f.echo or f.address, range(K.address_at, 4))
  end
  -- The data words and the checksum after them: a program request's 16 words;
  -- a read reply's as many as came before its last four bytes, whatever its
  -- count says, when the length is one a read reply can have at all.
  local words = 0
  local summed = false
  if command == K.program and not reply then
    words = math.max(0, math.min(16, math.floor((n - K.data_at) / 4)))
    summed = n >= K.data_at + 4 * words + 4
  elseif command == K.read and reply and n >= K.read_reply_overhead and (n - K.read_reply_overhead) % 4 == 0 then
    words = math.floor((n - K.read_reply_overhead) / 4)
    summed = true
  end
  local checksum_good = nil
  if words > 0 then
    local data = item:add(f.data, range(K.data_at, 4 * words))
    for i = 0, words - 1 do data:add(f.word, range(K.data_at + 4 * i, 4)) end
  end
  local checksum_at = K.data_at + 4 * words
  if summed then
    local computed = word_sum(bytes, K.address_at, words + 1)
    local carried = word_at(bytes, checksum_at)
    checksum_good = computed == carried
    local sum = item:add(f.checksum, range(checksum_at, 4))
    sum:add(f.checksum_computed, computed):set_generated()
    sum:add(f.checksum_good, checksum_good):set_generated()
    if not checksum_good then
      sum:add_proto_expert_info(e.bad_checksum, string.format("Bad checksum 0x%08X, computed 0x%08X", carried,
                                                              computed))
    end
  end

  -- Acknowledgement and echo.
  local ack
  if reply and command ~= K.read and has(K.ack_at, 1) then
    ack = byte_at(bytes, K.ack_at)
    local ack_item = item:add(f.ack, range(K.ack_at, 1))
    if ack ~= K.ack then
      ack_item:add_proto_expert_info(e.refused, string.format("Refused: NAK 0x%02X instead of 0x4F", ack))
    end
  end
  local asked = record.request and record.request.command
  if reply and asked and asked ~= command then
    item:add_proto_expert_info(e.wrong_command, string.format("Reply to %s, but the request was %s", name,
                                                             COMMAND_NAMES[asked] or string.format("0x%02X", asked)))
  end
  local wrong_echo = false
  if reply and address and record.request and record.request.command == command and record.request.address
     and record.request.address ~= address and (command == K.program or ack == nil) then
    wrong_echo = true
    item:add_proto_expert_info(e.wrong_echo, string.format("Wrong echo %s, the request named %s",
                                                           flash_address(address),
                                                           flash_address(record.request.address)))
  end

  -- The identity record, when a read reply carries it.
  local identity
  if reply and command == K.read and address == K.identity_address and words >= 4 then
    local at = K.data_at
    local revision = identity_text(bytes, at, 1)
    local serial = identity_text(bytes, at + 1, K.serial_max)
    local hardware = identity_text(bytes, at + K.hardware_at, K.hardware_length)
    item:add(f.revision, range(at, 1), revision)
    item:add(f.serial, range(at + 1, K.serial_max), serial)
    item:add(f.hardware, range(at + K.hardware_at, K.hardware_length), hardware)
    identity = hardware .. " " .. revision .. " " .. serial
  end

  -- Length, and whether a TCP frame was put together from segments (TCP
  -- lists them, after the loader frame has been read): the tool takes a reply
  -- from one receive, so a reply split over segments may fail it though the
  -- bytes are all there.
  local length_fits = expected == nil or n == expected
  if piece.split then
    item:add_proto_expert_info(e.split, "Put together from TCP segments (listed under TCP)" ..
                               (reply and "; the tool takes a reply from one receive" or ""))
  end
  if not length_fits then
    item:add_proto_expert_info(e.bad_length, expected < 0 and string.format("No length fits a %s", what)
                               or string.format("Length %d does not fit a %s (%d bytes)", n, what or name, expected))
  end

  -- Matching.
  if record.response_to then
    item:add(f.response_to, record.response_to):set_generated()
    item:add(f.time, NSTime.new(math.floor(record.rtt_us / 1e6), (record.rtt_us % 1000000) * 1000))
        :set_generated()
  end
  if record.response_in then item:add(f.response_in, record.response_in):set_generated() end
  if record.resend_of then
    item:add(f.resend, true):set_generated()
    item:add(f.resend_of, record.resend_of):set_generated()
    item:add_proto_expert_info(e.resend, string.format("Resend of frame %d: no reply in time",
                                                       record.resend_of))
  end
  if record.stale then
    item:add(f.stale, true):set_generated()
    item:add_proto_expert_info(e.stale, "Stale reply: " .. record.stale)
  end
  if record.unmatched then
    item:add_proto_expert_info(e.unmatched, "Reply without a request in flight")
  end
  if not reply and record.exchange and record.response_in == nil and pinfo.visited then
    item:add_proto_expert_info(e.no_reply, "No reply in the capture")
  end

  -- Info, as the tool's trace reads.
  if not reply then
    if (command == K.read or command == K.program) and has(K.count_at, 1) then
      info[#info + 1] = string.format("%s %s %d words", name, address and flash_address(address) or "?",
                                      byte_at(bytes, K.count_at))
    else
      info[#info + 1] = name
    end
  elseif command == K.read then
    local shown = address and flash_address(address) or "?"
    if identity or words > 0 or length_fits then
      info[#info + 1] = string.format("read %s → %s", shown, identity or string.format("%d words", words))
    else
      info[#info + 1] = string.format("read %s → %d bytes (%s)", shown, n, expected_text())
    end
  elseif ack == nil then
    info[#info + 1] = name .. " reply"
  elseif ack == K.ack then
    info[#info + 1] = "ack"
  else
    info[#info + 1] = string.format("NAK 0x%02X", ack)
  end
  if wrong_echo then info[#info + 1] = "echo " .. flash_address(address) end
  if checksum_good == false then info[#info + 1] = "bad checksum" end
  if not length_fits and not (reply and command == K.read and words == 0) then
    info[#info + 1] = string.format("%d bytes (%s)", n, expected_text())
  end
  if header > 0 then info[#info + 1] = string.format("seq %d", byte_at(tvb:raw(0, 1), 0)) end
  if record.resend_of then info[#info + 1] = "[resend]" end
  if record.stale then info[#info + 1] = "[stale]" end
  if record.unmatched then info[#info + 1] = "[no request]" end
  local text = table.concat(info, ", "):gsub(", %[", " [")
  item:set_text("Varnel loader, " .. text)
  return text
end

-- Whether bytes on the loader's ports are the loader's: a UDP datagram is a
-- sequence byte and a frame that starts with the lead byte and a command, no
-- longer than the longest reply; TCP bytes start such a frame. Anything else
-- is handed back to Wireshark, which tries the packet's other port and its
-- heuristic dissectors: mDNS from port 1234, HTTP on port 1234, a video
-- stream sent to it are theirs, not a malformed loader frame. A segment that
-- goes on with a frame begun earlier never comes here by itself: TCP keeps it
-- for the frame it completes.
local function starts_frame(tvb, at)
  local n = tvb:len()
  if n == at + 1 then return tvb(at, 1):uint() == K.lead end
  return n >= at + 2 and tvb(at, 1):uint() == K.lead and COMMAND_NAMES[tvb(at + 1, 1):uint()] ~= nil
end

local function dissect_udp(tvb, pinfo, tree, reply)
  if tvb:len() > K.longest_reply + 1 or tvb:len() < 3 or not starts_frame(tvb, 1) then return 0 end
  local number = pinfo.number
  -- Inside an ICMP error the frame is quoted, not sent: shown, never matched.
  local quoted = pinfo.in_error_pkt
  local record = not quoted and frames[number] or nil
  if record == nil and not quoted and not pinfo.visited then
    record = analyse_udp(pinfo, tvb:raw(), reply)
    frames[number] = record
  end
  pinfo.cols.protocol = "VARNEL"
  pinfo.cols.info = show_frame(tvb, 1, tree, record or { reply = reply }, {}, pinfo)
  return tvb:len()
end

-- Over TCP, Wireshark's reassembly hands the dissector whole frames, in the
-- stream's order whatever order the segments came in: a frame that goes on
-- past a segment's end is asked for (desegment_len), and comes back put
-- together in the packet that completes it, as a buffer of its own (offset 0
-- in its source, where a segment's bytes follow the packet's headers).
local function dissect_tcp(tvb, pinfo, tree, reply)
  if not starts_frame(tvb, 0) then return 0 end
  local n = tvb:len()
  local reassembled = tvb:offset() == 0
  local texts = {}
  local offset = 0
  while offset < n do
    local key = pinfo.number .. (reassembled and "+" or ":") .. (tvb:offset() + offset)
    local found = tcp_frames[key]
    if found == nil then
      local rest = tvb:raw(offset)
      local length
      if pinfo.visited then length = frame_length(rest, reply) else length = tcp_frame_length(pinfo, rest, reply) end
      if length == false then
        found = { length = n - offset, record = { reply = reply } }  -- shown as not a loader frame
      elseif length == nil or length > n - offset then
        pinfo.desegment_offset = offset
        pinfo.desegment_len = length and length - (n - offset) or DESEGMENT_ONE_MORE_SEGMENT
        break
      else
        found = { length = length, record = { reply = reply } }
        if not pinfo.visited and not pinfo.in_error_pkt then
          found.record = analyse_tcp_frame(pinfo, tcp_talk(pinfo, reply), rest:sub(1, length), reply)
          found.split = reassembled
          tcp_frames[key] = found
        end
      end
    end
    texts[#texts + 1] = show_frame(tvb(offset, found.length):tvb(), 0, tree, found.record, found, pinfo)
    offset = offset + found.length
  end
  if #texts > 0 then
    pinfo.cols.protocol = "VARNEL"
    pinfo.cols.info = table.concat(texts, "; ")
  end
  return n
end

function varnel.dissector(tvb, pinfo, tree)
  local reply = is_reply(pinfo)
  if is_tcp(pinfo) then return dissect_tcp(tvb, pinfo, tree, reply) end
  return dissect_udp(tvb, pinfo, tree, reply)
end

DissectorTable.get("udp.port"):add(K.udp_tool_port, varnel)
DissectorTable.get("udp.port"):add(K.udp_board_port, varnel)
DissectorTable.get("tcp.port"):add(K.tcp_board_port, varnel)
