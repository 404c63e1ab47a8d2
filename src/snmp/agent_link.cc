// The sub-agent's link: attach, register, serve, and re-attach after a lost master agent.
#include "agent_link.h"

#include <algorithm>

#include "env.h"

namespace tw::snmp {

AgentLink::AgentLink(AgentLog& log, std::string service, std::string client)
    : log_(log), service_(std::move(service)), client_(std::move(client)) {}

void AgentLink::Lost() {
  pipe_.reset();
  for (Subtree& t : trees_.trees()) t.registered = false;
}

int AgentLink::Attach() {
  int status = 0;
  pipe_ = CSIPC::Attach(service_, client_, &status);
  if (pipe_ == nullptr) {
    log_.Line(0, "Quendal OrdexView SNMP Agent is not available.\n");
    return status;
  }
  log_.Line(1, "We are connected!\n");
  for (Subtree& t : trees_.trees()) {
    int rc = SendRegister(t);
    if (rc == kLinkDown) return rc;
  }
  return 0;
}

int AgentLink::Exchange(const Message& request, Message* answer) {
  std::string frame;
  if (EncodeMessage(request, &frame) != 0) return kLinkBadArgument;
  if (pipe_->Send(frame) < 0) {
    Lost();
    return kLinkDown;
  }
  std::string reply;
  if (pipe_->Receive(&reply) < 0) {
    Lost();
    return kLinkDown;
  }
  if (DecodeMessage(reply, answer) != 0 || answer->type != kMsgResponse) {
    // The master agent answers every register with a response; anything else means the two
    // ends no longer agree on where they are.
    Lost();
    return kLinkDown;
  }
  return 0;
}

int AgentLink::SendRegister(Subtree& tree) {
  Message m;
  m.type = kMsgRegister;
  m.root = tree.root;
  m.objects = tree.objects;
  Message answer;
  if (int rc = Exchange(m, &answer); rc != 0) return rc;
  tree.registered = answer.status == 0;
  return answer.status;
}

int AgentLink::Register(const std::string& root, const std::vector<ObjectSpec>& rows,
                        ObjectHandler handler) {
  log_.Line(2, "Trying to add the mib, calling AddMib()\n");
  Subtree tree;
  if (int rc = ConvertTable(root, rows, &tree); rc != 0) {
    log_.Line(0, "Mib could not be converted to internal format\n");
    return rc;
  }
  tree.handler = std::move(handler);
  Oid rootOid = tree.root;
  if (int rc = trees_.Add(std::move(tree)); rc != 0) return rc;
  if (!connected()) return 0;
  for (Subtree& t : trees_.trees())
    if (t.root == rootOid) return SendRegister(t);
  return kLinkNotFound;
}

int AgentLink::Unregister(const std::string& root) {
  Oid rootOid;
  if (int rc = ParseOid(root, &rootOid); rc != 0) return rc;
  if (int rc = trees_.Remove(rootOid); rc != 0) return rc;
  if (!connected()) return 0;
  Message m;
  m.type = kMsgUnregister;
  m.root = rootOid;
  Message answer;
  if (int rc = Exchange(m, &answer); rc != 0) return rc;
  return answer.status;
}

int AgentLink::SendTrap(const Message& trap) {
  if (!connected()) return kLinkDown;
  std::string frame;
  if (trap.type != kMsgTrap || EncodeMessage(trap, &frame) != 0) return kLinkTrapFull;
  // The log's view of the trap: codes and values separated by "!", texts cut to 60.
  std::string text = std::to_string(trap.generic) + "!" + std::to_string(trap.specific) + "!";
  for (const TrapBinding& b : trap.bindings)
    text += (b.type == kTypeText ? b.text.substr(0, 60) : std::to_string(b.integer)) + "!";
  if (text.size() > 255) text.resize(255);
  log_.Line(1, "Sending SNMP trap: \"%.58s\"\n", text.c_str());
  if (pipe_->Send(frame) < 0) {
    Lost();
    return kLinkDown;
  }
  return 0;
}

int AgentLink::Serve(int timeoutMs, const std::function<bool()>& stop) {
  if (!connected()) {
    log_.Line(1, "Waiting 30 seconds before attempting re-connect\n");
    Env* env = Env::Default();
    int64_t until = env->NowMicros() + kReattachMicros;
    for (int64_t now = env->NowMicros(); now < until; now = env->NowMicros()) {
      if (stop && stop()) return kLinkDown;
      env->SleepMicros(std::min<int64_t>(until - now, 500'000));
    }
    if (int rc = Attach(); rc != 0) return rc == kLinkDown ? kLinkDown : rc;
  }
  int rc = pipe_->Wait(timeoutMs);
  if (rc == kLinkDown) Lost();
  if (rc != 1) return rc;
  std::string frame;
  if (pipe_->Receive(&frame) < 0) {
    Lost();
    return kLinkDown;
  }
  ServeMessage(frame);
  return connected() ? 1 : kLinkDown;
}

void AgentLink::ServeMessage(const std::string& frame) {
  Message request;
  Message answer;
  answer.type = kMsgResponse;
  if (DecodeMessage(frame, &request) != 0 || request.type < kMsgGet ||
      request.type > kMsgSetCommit) {
    answer.status = kGenErr;
  } else {
    answer.oid = request.oid;
    size_t index = 0;
    const Subtree* tree = trees_.Find(request.uniqueId, &index);
    if (tree == nullptr || !tree->handler) {
      log_.Line(1, "Could not find unique ID in the MIB\n");
      answer.status = kNoSuchName;
    } else {
      const MibObject& object = tree->objects[index];
      Oid instance;
      if (HasPrefix(request.oid, object.oid))
        for (uint32_t i = object.oid.count; i < request.oid.count; ++i)
          (void)instance.Append(request.oid.c[i]);
      std::string value = request.value;
      int32_t status = tree->handler(request.type, index, object, &instance, &value);
      answer.status = status < 0 ? kGenErr : status;
      if (answer.status == kNoError &&
          (request.type == kMsgGet || request.type == kMsgGetNext)) {
        if (request.type == kMsgGetNext) {
          answer.oid = object.oid;
          if (!answer.oid.Append(instance)) answer.status = kGenErr;
        }
        answer.value = std::move(value);
      }
    }
  }
  std::string out;
  if (EncodeMessage(answer, &out) != 0) {
    answer.status = kGenErr;
    answer.value.clear();
    out.clear();
    (void)EncodeMessage(answer, &out);
  }
  if (pipe_->Send(out) < 0) Lost();
}

}  // namespace tw::snmp
