#pragma once
// Placeholder interface until the mail client lands.
#include <string>
#include <string_view>
namespace SmtpConn {
constexpr int Idle = 1;
}
class SmtpClass {
public:
    int State = SmtpConn::Idle;
    std::string Port = "25";
    std::string Server;
    std::string FromAdress;
    void Send(std::string_view, std::string_view, std::string_view) {}
};
