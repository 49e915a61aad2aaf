#pragma once
// The settings dialog shown before the chat window: nickname, role, address and
// port. It edits a copy (InitData); only OK hands the values back.

#include <cstdint>
#include <string>

#include "protocol/headers.h"
#include "ui/toolkit/toolkit.h"

class CIPAddressCtrl;
class QLineEdit;

// Longest nickname in bytes (its field holds 32 with the NUL).
constexpr size_t MAX_PSEUDO_BYTES = 31;
// Digits the port edit takes.
constexpr size_t MAX_PORT_DIGITS = 5;

struct InitData {
  EndpointRole Role = TYPE_CLIENT;
  int32_t Ip[4] = {0, 0, 0, 0};
  int32_t Port = 0;
  std::string Pseudo;
};

class CJaseloDlgInit : public CDialog {
 public:
  CJaseloDlgInit(QWidget* parent, InitData* data);

  bool OnInitDialog() override;
  void OnOK() override;

 protected:
  void DoDataExchange() override;

 private:
  QLineEdit* PseudoEdit() const;
  QLineEdit* PortEdit() const;

  InitData* data;
  CIPAddressCtrl* ipAddress = nullptr;
};
