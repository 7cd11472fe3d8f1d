#include "protocol_api.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "candump.h"
#include "ota_state.h"

namespace {

using namespace mcu_ota;

class ProtocolApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ota_state_reset();
    protocol_init();
    api_reg_sendfunc([this](const uint8_t* data, uint16_t len) {
      sent.emplace_back(data, data + len);
      return static_cast<int16_t>(len);
    });
  }

  // Frames the other end would send: packed by the framing layer, then received.
  static std::vector<uint8_t> frame_of(uint8_t type, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame(payload.size() + kFrameOverhead);
    protocol_pack_func(payload.data(), static_cast<uint16_t>(payload.size()), type, frame.data());
    return frame;
  }
  static void receive(uint8_t type, const std::vector<uint8_t>& payload) {
    const std::vector<uint8_t> frame = frame_of(type, payload);
    ASSERT_EQ(api_push_data(frame.data(), static_cast<uint16_t>(frame.size())), 1);
  }

  std::vector<std::vector<uint8_t>> sent;
};

TEST_F(ProtocolApiTest, RequestsHandTheSendFunctionTheirFrames) {
  EXPECT_EQ(api_send_request_extra(1), 1);
  EXPECT_EQ(api_send_request_en_ota(), 1);
  EXPECT_EQ(api_send_request_ota_reboot(), 1);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0], hex_bytes("AA 55 01 00 01 01 EA 14"));
  EXPECT_EQ(sent[1], frame_of(REQUEST_OTA, {0x01, 0x02}));
  EXPECT_EQ(sent[1].size(), 9u);
  EXPECT_EQ(sent[2], frame_of(REQUEST_OTA, {0x01, 0x03}));
}

TEST_F(ProtocolApiTest, WithoutSendFunctionNothingIsSentButRequestsStillReportAFrame) {
  api_reg_sendfunc(nullptr);
  EXPECT_EQ(api_send_request_extra(1), 1);
  EXPECT_EQ(api_send_request_en_ota(), 1);
  api_send_update_pack(nullptr, 0, 1, 0, OTA_UPDATE_DATA);
  EXPECT_TRUE(sent.empty());
}

TEST_F(ProtocolApiTest, FormatPackHead) {
  std::vector<uint8_t> data(36);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0xA0 + i);
  api_send_update_pack(data.data(), 36, 2, 0xFFFFFFFF, OTA_UPDATE_DATA);
  ASSERT_EQ(sent.size(), 1u);
  const std::vector<uint8_t>& f = sent[0];
  ASSERT_EQ(f.size(), 51u);
  EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + 13), hex_bytes("AA 55 2C 00 02 02 00 FF FF 00 00 02 00"));
  EXPECT_EQ(std::vector<uint8_t>(f.begin() + 13, f.begin() + 49), data);
  EXPECT_EQ(protocol_check_ready(f.data() + 2), 0);
}

TEST_F(ProtocolApiTest, DataPackHeadCarriesComplementAndLow16Bits) {
  const std::vector<uint8_t> data = hex_bytes("DE AD");
  api_send_update_pack(data.data(), 2, 0x10021, 0x10005, OTA_UPDATE_FINISHED);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], frame_of(UPDATE_DATA_PACK, hex_bytes("21 00 05 00 FA FF 01 00 DE AD")));
}

TEST_F(ProtocolApiTest, UpdatePackBeyondTheSendBufferIsRefused) {
  std::vector<uint8_t> data(286, 0x55);
  api_send_update_pack(data.data(), 286, 1, 0, OTA_UPDATE_DATA);
  EXPECT_TRUE(sent.empty());
  api_send_update_pack(data.data(), 285, 1, 0, OTA_UPDATE_DATA);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].size(), 300u);
}

TEST_F(ProtocolApiTest, AcknowledgementSetsTheLastAckRecord) {
  receive(REQUEST_UPDATE_PACK, hex_bytes("05 00 01"));
  EXPECT_EQ(api_get_main_package(), REQUEST_UPDATE_PACK);
  EXPECT_EQ(ota_state().respond_update_act.update_pack_id, 5);
  EXPECT_EQ(ota_state().respond_update_act.act, 1);
  receive(REQUEST_UPDATE_PACK, hex_bytes("FF FF 02"));
  EXPECT_EQ(api_get_main_package(), REQUEST_UPDATE_PACK);
  EXPECT_EQ(ota_state().respond_update_act.update_pack_id, 0xFFFF);
  EXPECT_EQ(ota_state().respond_update_act.act, 2);
}

TEST_F(ProtocolApiTest, AcknowledgementOfWrongLengthKeepsThePreviousRecord) {
  receive(REQUEST_UPDATE_PACK, hex_bytes("05 00 01"));
  api_get_main_package();
  receive(REQUEST_UPDATE_PACK, hex_bytes("09 00 02 00"));
  EXPECT_EQ(api_get_main_package(), REQUEST_UPDATE_PACK);
  EXPECT_EQ(api_get_last_buffer_length(), 4);
  EXPECT_EQ(ota_state().respond_update_act.update_pack_id, 5);
  EXPECT_EQ(ota_state().respond_update_act.act, 1);
}

TEST_F(ProtocolApiTest, HandshakeResponseFillsTheName) {
  receive(RESPOND_HANDSHAKE, std::vector<uint8_t>(kMcuProgramName, kMcuProgramName + 12));
  EXPECT_EQ(api_get_main_package(), RESPOND_HANDSHAKE);
  EXPECT_STREQ(reinterpret_cast<const char*>(ota_state().get_pro_name.str_name), "pro_mcu_app");
  EXPECT_EQ(api_get_main_package(), -1);
  EXPECT_EQ(api_get_main_package(), -1);
}

TEST_F(ProtocolApiTest, ShorterNameOverwritesOnlyItsOwnBytesAndLongerIsIgnored) {
  receive(RESPOND_HANDSHAKE, std::vector<uint8_t>(kMcuProgramName, kMcuProgramName + 12));
  api_get_main_package();
  receive(RESPOND_HANDSHAKE, hex_bytes("41 42"));
  api_get_main_package();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ota_state().get_pro_name.str_name)), "ABo_mcu_app");
  receive(RESPOND_HANDSHAKE, std::vector<uint8_t>(33, 'x'));
  EXPECT_EQ(api_get_main_package(), RESPOND_HANDSHAKE);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ota_state().get_pro_name.str_name)), "ABo_mcu_app");
}

TEST_F(ProtocolApiTest, NothingReceivedGivesMinusOne) { EXPECT_EQ(api_get_main_package(), -1); }

TEST_F(ProtocolApiTest, UnknownTypeIsDiscarded) {
  receive(9, hex_bytes("01 02"));
  EXPECT_EQ(api_get_main_package(), -1);
  EXPECT_EQ(api_get_last_buffer_type(), 0xFF);
  EXPECT_EQ(api_get_main_package(), -1);
}

TEST_F(ProtocolApiTest, McuSideAnswersAHandshakeWithItsName) {
  receive(REQUEST_HANDSHAKE, {0x01});
  EXPECT_EQ(api_get_main_package(), REQUEST_HANDSHAKE);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], frame_of(RESPOND_HANDSHAKE, hex_bytes("70 72 6F 5F 6D 63 75 5F 61 70 70 00")));
}

TEST_F(ProtocolApiTest, McuSideStoresOtaRequestOfTwoBytesOnly) {
  receive(REQUEST_OTA, hex_bytes("01 02"));
  EXPECT_EQ(api_get_main_package(), REQUEST_OTA);
  EXPECT_EQ(ota_state().request_ota_pack.cmd, OTA_CMD_ENTER);
  receive(REQUEST_OTA, hex_bytes("01 03 00"));
  EXPECT_EQ(api_get_main_package(), REQUEST_OTA);
  EXPECT_EQ(ota_state().request_ota_pack.cmd, OTA_CMD_ENTER);
}

TEST_F(ProtocolApiTest, McuSideAcknowledges) {
  api_ack_update_pack(0x12345, 4);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], frame_of(REQUEST_UPDATE_PACK, hex_bytes("45 23 04")));
  EXPECT_EQ(ota_state().respond_update_act.update_pack_id, 0x2345);
}

TEST_F(ProtocolApiTest, McuSideTakesUpdatePacks) {
  API_UPDATE_PACK_T pack{};
  EXPECT_EQ(api_get_updatepack(&pack, sizeof pack), -1);  // nothing taken yet
  receive(UPDATE_DATA_PACK, hex_bytes("03 00 01 00 FE FF 02 00 11 22 33"));
  ASSERT_EQ(api_get_main_package(), UPDATE_DATA_PACK);
  EXPECT_EQ(api_get_updatepack(nullptr, sizeof pack), -1);
  EXPECT_EQ(api_get_updatepack(&pack, 10), -2);
  ASSERT_EQ(api_get_updatepack(&pack, sizeof pack), 11);
  EXPECT_EQ(pack.all_pack_num, 3);
  EXPECT_EQ(pack.pack_id, 1);
  EXPECT_EQ(pack.check_id, 0xFFFE);
  EXPECT_EQ(pack.update_cmd, OTA_UPDATE_DATA);
  EXPECT_EQ(pack.p_data[2], 0x33);

  receive(UPDATE_DATA_PACK, hex_bytes("03 00 02 00 FD FF 02 00"));  // head only
  api_get_main_package();
  EXPECT_EQ(api_get_updatepack(&pack, sizeof pack), -1);
  receive(UPDATE_DATA_PACK, hex_bytes("03 00 02 00 FD FF 01 00 11"));
  api_get_main_package();
  EXPECT_EQ(api_get_updatepack(&pack, sizeof pack), -3);
  EXPECT_EQ(parse_update_pack_head(api_get_last_buffer_data()).update_cmd, OTA_UPDATE_FINISHED);
}

// The caller's buffer may be smaller than the record: only the pack itself is
// written (ASan sees a write past a 48-byte heap buffer; the fill shows it too).
TEST_F(ProtocolApiTest, McuSideCopiesNoMoreThanThePackIntoASmallBuffer) {
  receive(UPDATE_DATA_PACK, hex_bytes("03 00 01 00 FE FF 02 00 11 22 33 44 55 66 77 88 99 AA BB"));
  ASSERT_EQ(api_get_main_package(), UPDATE_DATA_PACK);
  auto buffer = std::make_unique<uint8_t[]>(48);
  std::memset(buffer.get(), 0xEE, 48);
  auto* pack = reinterpret_cast<API_UPDATE_PACK_T*>(buffer.get());
  ASSERT_EQ(api_get_updatepack(pack, 48), 19);
  EXPECT_EQ(std::vector<uint8_t>(buffer.get(), buffer.get() + 48),
            hex_bytes("03 00 01 00 FE FF 02 00 11 22 33 44 55 66 77 88 99 AA BB" + std::string(29 * 2, 'E')));
  EXPECT_EQ(api_get_updatepack(pack, 18), -2);  // one byte short of the pack
}

TEST_F(ProtocolApiTest, BothSidesTalkThroughEachOthersFrames) {
  // Whatever the updater side sends, the MCU side's unpacker reads back.
  api_send_update_pack(hex_bytes("01 02 03").data(), 3, 7, 6, OTA_UPDATE_DATA);
  ASSERT_EQ(sent.size(), 1u);
  api_push_data(sent[0].data(), static_cast<uint16_t>(sent[0].size()));
  ASSERT_EQ(api_get_main_package(), UPDATE_DATA_PACK);
  API_UPDATE_PACK_T pack{};
  ASSERT_EQ(api_get_updatepack(&pack, sizeof pack), 11);
  EXPECT_EQ(pack.pack_id, 6);
  EXPECT_EQ(pack.all_pack_num, 7);
  EXPECT_EQ(std::vector<uint8_t>(pack.p_data, pack.p_data + 3), hex_bytes("01 02 03"));
}

}  // namespace
