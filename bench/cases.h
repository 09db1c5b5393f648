// The per-sample cases, each written in our language, in the peer's syntax,
// and as plain C++.
#pragma once

#include <cmath>

namespace quorvel_bench {

// The state a sample sees; the native forms work on it directly.
struct SampleState {
    double u = 0, v = 0, w = 0, time = 0;
    double out1 = 0, y = 0;
};

struct Case {
    const char* name;
    const char* ours;
    const char* peer;
    void (*native)(SampleState&);
};

inline constexpr double kPi = 3.14159265358979311600;

inline const Case kCases[] = {
    {"arith", "out1=(u+v)*0.5-w/3;", "out1=(u+v)*0.5-w/3",
     [](SampleState& s) { s.out1 = (s.u + s.v) * 0.5 - s.w / 3; }},
    {"sine", "out1=sin(2*M_PI*440*time)*0.8;", "out1=sin(2*M_PI*440*time)*0.8",
     [](SampleState& s) { s.out1 = std::sin(2 * kPi * 440 * s.time) * 0.8; }},
    {"shaper", "out1=tanh(u*3)/3+0.1*u*u*u;", "out1=tanh(u*3)/3+0.1*u*u*u",
     [](SampleState& s) { s.out1 = std::tanh(s.u * 3) / 3 + 0.1 * s.u * s.u * s.u; }},
    {"filter", "y=y+0.1*(u-y);out1=y;", "y=y+0.1*(u-y), out1=y",
     [](SampleState& s) {
         s.y = s.y + 0.1 * (s.u - s.y);
         s.out1 = s.y;
     }},
    {"cond", "out1=if(above(u,0),u,-u*0.5);", "out1=(u>0)?u:-u*0.5",
     [](SampleState& s) { s.out1 = s.u > 0 ? s.u : -s.u * 0.5; }},
    {"horner", "out1=((((((((0.9*u+0.8)*u+0.7)*u+0.6)*u+0.5)*u+0.4)*u+0.3)*u+0.2)*u+0.1)*u+0.05;",
     "out1=((((((((0.9*u+0.8)*u+0.7)*u+0.6)*u+0.5)*u+0.4)*u+0.3)*u+0.2)*u+0.1)*u+0.05",
     [](SampleState& s) {
         const double u = s.u;
         s.out1 =
             ((((((((0.9 * u + 0.8) * u + 0.7) * u + 0.6) * u + 0.5) * u + 0.4) * u + 0.3) * u + 0.2) * u + 0.1) * u +
             0.05;
     }},
    {"partials", "s=0;for(i=1,below(i,9),i=i+1,s=s+sin(i*time)/i);out1=s;",
     "s=0, s=s+sin(1*time)/1, s=s+sin(2*time)/2, s=s+sin(3*time)/3, s=s+sin(4*time)/4, "
     "s=s+sin(5*time)/5, s=s+sin(6*time)/6, s=s+sin(7*time)/7, s=s+sin(8*time)/8, out1=s",
     [](SampleState& s) {
         double sum = 0;
         for (int i = 1; i < 9; ++i) sum = sum + std::sin(i * s.time) / i;
         s.out1 = sum;
     }},
    // The fixed cost of one evaluation: nearly nothing to compute.
    {"copy", "out1=u;", "out1=u", [](SampleState& s) { s.out1 = s.u; }},
};

}  // namespace quorvel_bench
