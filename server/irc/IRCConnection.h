#pragma once
// One client connection: its socket, the user's identity, line assembly, the send buffer, the
// keep-alive and the closing with its error and QUIT lines. Commands are members defined in one
// file per command group (Registration.cpp, Dispatcher.cpp, Messages.cpp, ...).

#include "common/Clock.h"
#include "net/CSocket.h"
#include "net/DnsRevRes.h"
#include "net/SelfTimer.h"
#include "server/channels/IRCChannel.h"
#include "server/irc/ConnCodes.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class IRCServer;

class IRCConnection final : public TimerOwner, public LookupClient
{
public:
    IRCConnection();
    ~IRCConnection(); // closes with quit type -1
    IRCConnection(const IRCConnection&) = delete;
    IRCConnection& operator=(const IRCConnection&) = delete;

    int State = ConnState::Free;
    std::string Nick;
    std::string RealName;
    std::string UserID;
    int Language = 0;
    std::string Hostname;
    std::string XHostName;
    std::string HostIP;
    std::int32_t PingTime = 0;
    bool Answered = true;
    std::int32_t IdleTime = 0;
    Date SignOn = 0;
    std::string IdentNick;
    int GlobChanMState = ChanMState::None;
    std::string OldNick;
    std::string AwayMsg;
    int ServerOpModes = 0;
    std::string ClinentVStr;
    bool AwayChanm = true;
    IRCServer* bindServer = nullptr;
    CSocket wins;
    // Position of this object in the server's ircConns; the nick index keeps collection order by it.
    std::size_t ConnIndex = 0;

    // Life cycle (Connection.cpp)
    void Accept(CSocket& Socket);
    void IntConnection();
    void TimerInterval();
    void DnsResEvent(const std::string& RemoteHostName) override;
    const std::string& GetHostIP() const override { return HostIP; }
    void CloseConnection(int QuitType, std::string_view QuitMSG);
    void SendQuitMsg(std::string_view Text);
    bool CheckQuitMsg(std::string_view Text, const IRCChannel* ParentChan, IRCConnection& ParentConn);
    void SaveValues();
    void SendLine(std::string_view Text);
    bool CheckCloneCount();
    void TimerEvent(int TimerID) override;
    void Out(std::string_view Text);
    std::string GetUserModeByIndex(int Index) const;
    std::string UserModes() const;
    void SendSM(int Number, std::string_view Text, std::string_view Parameter1, std::string_view Parameter2);
    std::string UIDN() const;
    std::string uID(int RealHN) const;
    // Changes Nick and keeps the server's nick index in step.
    void SetNick(std::string_view NewNick);

    // Registration (Registration.cpp)
    bool CheckNick(std::string_view NewNick) const;
    void AutoRename(std::string_view OldName, std::string_view NewGivNick);

    // Channels: membership and status (server/channels)
    std::string GetSignedNick(const IRCChannel& Channel, const IRCConnection& ReqConn) const;
    IRCChannel* GetChannel(std::string_view ChanName) const;
    std::string GetChannelListString(bool SelfList) const;
    std::string GetHModeCHar(std::string_view ChanName) const;
    bool SetUserMode(std::string_view Mode, bool Remove, std::string_view ChanName);
    void SetGlobalChanState(int StType, std::string_view Param);
    void SetOp(std::string_view User, std::string_view Rank);
    bool CheckRang(const IRCChannel& Channel, int RequComm, bool Remove);
    void ReloadChanValues();
    void KickMe(std::string_view ChanName);
    void SaveUChanVals(int ChannelIndex);
    void LoadUChanVals(int ChannelIndex);
    // Both sides of a membership change together: slot and the channel's Users.
    int EnterChannel(IRCChannel& Channel); // the slot index, -1 when all 32 are taken
    // MayClose: a channel left empty closes (when the server closes empty channels); a kick never does.
    void LeaveChannelSlot(int ChannelIndex, bool MayClose);
    // The slot in use for the channel of that name, or for that channel object; -1 when none.
    int FindChannelSlot(std::string_view ChanName) const;
    int FindChannelSlot(const IRCChannel& Channel) const;
    std::array<ChannelSlot, MaxChannelSlots> ChannelSlots{};

    // Operator commands (OperCommands.cpp)
    void CloneList(std::string_view NickName);

    // NickServ, ChanServ and MemoServ operations on a connection (server/services)
    void ChangePassword(std::string_view OldPassword, std::string_view NewPassword);
    void RetrPassword(std::string_view LNick);
    void CheckIfNickIsREged(std::string_view NewNick);
    bool IfUserIsRegisterAble(std::string_view Channel);
    void NS_Drop(std::string_view DropNick);
    void NS_Identify(std::string_view PassW);
    void CS_Drop(std::string_view Channel);
    void MS_Send(std::string_view NickName, std::string_view Text);
    // ShowMsg: also tell the user when there is no memo.
    void MS_Recv(bool ShowMsg);

private:
    friend class ConnectionTestAccess;

    // Life cycle (Connection.cpp)
    void SendPing();
    void WinS_DataArrival();
    void wins_SendComplete();
    void wins_Closed();
    void wins_Error(int Number, const std::string& Description);

    // Dispatcher (Dispatcher.cpp)
    void ParseLine(std::string_view Line);
    bool PassFloodLimit();
    void Tokenise(std::string_view Line);
    void Dispatch();
    std::string Joined(int FromIndex) const;
    void NickCommand(std::string_view NewNick);
    void PongCommand(std::string_view Token);
    void CapCommand();
    void AwayCommand();
    void LanguageCommand();
    void NamesCommand(std::string_view ChanName);
    void MyIpCommand();

    // Registration (Registration.cpp)
    bool RegistrationReady() const;
    void PassCommand(std::string_view Password);
    void UserCommand(std::string_view User, std::string_view Real);
    void RegistrationPong(std::string_view Token);
    void SendWelcome();
    void SendMotd();

    // Messages.cpp
    void SendChatMessage(std::string_view MType, std::string_view Target, std::string_view Text);

    // Channel commands (server/channels)
    void JoinChannel(std::string_view ChanName, std::string_view Key);
    void PartChannel(std::string_view ChanName);
    void SendNames(int ChannelIndex, bool OnlyEnd);
    void ListChannels(std::string_view Filter);
    void ModeCommand(const std::vector<std::string>& Tokens, int TokenCount);
    void TopicCommand(std::string_view ChanName, std::string_view Topic);
    void KickCommand(std::string_view ChanName, std::string_view KickNick, std::string_view Reason);

    std::string RecvBuffer;
    std::string SendBuffer;
    bool PingArmed = false;
    double PingToken = 0;
    bool PassOK = true;
    std::int32_t FloodCount = 0;
    std::int32_t LastLineTick = 0;
    std::int32_t MessageFloodCount = 0;
    std::vector<std::string> Params; // tokens of the line being dispatched, index 0 the command
    int ParamCount = 0;
    bool Closing = false;
};
