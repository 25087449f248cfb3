#pragma once
// The mail client: one plain-text mail at a time to the configured SMTP relay, with the minimal
// dialogue (HELO, MAIL FROM, RCPT TO, DATA). Its only user mails forgotten passwords; the
// outcome is told through OnError and OnSendet alone.

#include "net/CSocket.h"
#include "net/SelfTimer.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// SmtpClass::State
namespace SmtpConn
{
constexpr int Idle = 1;
constexpr int Connecting = 2;
constexpr int Connected = 3;
constexpr int SendingMessage = 5;
constexpr int Closing = 10; // QUIT sent, the relay is expected to close
} // namespace SmtpConn

// SmtpClass::smtpState, the step of the dialogue
namespace SmtpStep
{
constexpr int None = 0;
constexpr int HeloSent = 1;
constexpr int MailFromSent = 2;
constexpr int RcptToSent = 3;
constexpr int DataSent = 4;
} // namespace SmtpStep

class SmtpClass final : public TimerOwner
{
public:
    SmtpClass();
    ~SmtpClass();
    SmtpClass(const SmtpClass&) = delete;
    SmtpClass& operator=(const SmtpClass&) = delete;

    std::string Server; // relay host or address; empty: mail is not set up
    std::string Port = "25";
    int State = SmtpConn::Idle;
    int smtpState = SmtpStep::None;
    std::string Buffer;
    std::string LastMSG;
    std::int32_t LastTS = 0;
    std::string FromAdress;
    std::string ToAdress;

    // Events: Error(Description) and Sendet (the message has been handed over).
    std::function<void(const std::string&)> OnError;
    std::function<void()> OnSendet;
    // The text of the Date header; the current local time in mail form unless replaced.
    std::function<std::string()> MailDateText;

    // Starts one mail; ignored while another is on its way.
    void Send(std::string_view Text, std::string_view Subject, std::string_view ToAdr);
    void Quit();
    void Cancel();
    void TimerEvent(int TimerID) override;

private:
    void OpenSession();
    void HandleReply(std::string_view Line);
    void SendCommand(std::string_view Line);
    void SendMailData();
    void FinishMail();
    void RaiseError(const std::string& Description);

    void WSock_Connected();
    void WSock_DataArrival();
    void WSock_SendComplete();
    void WSock_Closed();
    void WSock_Error(int Number, const std::string& Description);

    std::string MailData;
    // How much of MailData the socket has taken; the rest goes out on OnSendComplete.
    std::size_t MailSent = 0;
    bool Delivering = false;
    CSocket WSock;
};
