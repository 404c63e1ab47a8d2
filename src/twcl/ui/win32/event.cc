// The event record and its text form, which names the visual objects it travels between.
#include <cstdio>

#include "twcl/ui/visual.h"

UI_Event::UI_Event(long type, UI_VisualObject* origin, UI_VisualObject* destination,
                   const UI_NativeMessage* native)
    : type_(type), origin_(origin), destination_(destination ? destination : origin) {
  if (native) native_ = std::make_unique<UI_NativeMessage>(*native);
}

UI_Event::UI_Event(const UI_Event& e)
    : CL_Object(e),
      shape(e.shape),
      key(e.key),
      param(e.param),
      shift(e.shift),
      alt(e.alt),
      control(e.control),
      type_(e.type_),
      origin_(e.origin_),
      destination_(e.destination_) {
  if (e.native_) native_ = std::make_unique<UI_NativeMessage>(*e.native_);
}

UI_Event::~UI_Event() = default;

UI_Event& UI_Event::operator=(const UI_Event& e) {
  if (this == &e) return *this;
  shape = e.shape;
  key = e.key;
  param = e.param;
  shift = e.shift;
  alt = e.alt;
  control = e.control;
  type_ = e.type_;
  origin_ = e.origin_;
  destination_ = e.destination_;
  native_.reset(e.native_ ? new UI_NativeMessage(*e.native_) : nullptr);
  return *this;
}

CL_String UI_Event::AsString() const {
  char text[256];
  std::snprintf(text, sizeof text, "%s from id %ld (%s) to id %ld", UI_EventTypeName(type_),
                origin_ ? origin_->Id() : -1000L, origin_ ? origin_->ClassName() : "??",
                destination_ ? destination_->Id() : -1000L);
  CL_String s(text);
  switch (type_) {
    case Event_Reconfigure:
      s += " shape ";
      s += shape.AsString();
      break;
    case Event_MouseMove:
      s += " position ";
      s += Position().AsString();
      break;
    case Event_Scroll:
      std::snprintf(text, sizeof text, " amount %ld", param);
      s += text;
      break;
    default:
      break;
  }
  return s;
}
