#pragma once
// Placeholder interface until the mail client lands.
#include <string>
#include <string_view>
class SmtpClass {
public:
    std::string Server;
    std::string FromAdress;
    void Send(std::string_view, std::string_view, std::string_view) {}
};
