// expect: model:22:12: undeclared name 'u1'
// expect: model:22:27: undeclared name 'u2'
// expect: model:22:42: undeclared name 'u3'
// expect: model:22:57: undeclared name 'u4'
// expect: model:22:72: undeclared name 'u5'
// expect: model:23:12: undeclared name 'u6'
// expect: model:23:27: undeclared name 'u7'
// expect: model:23:42: undeclared name 'u8'
// expect: model:23:57: undeclared name 'u9'
// expect: model:23:73: undeclared name 'u10'
// expect: model:24:13: undeclared name 'u11'
// expect: model:24:30: undeclared name 'u12'
// expect: model:24:47: undeclared name 'u13'
// expect: model:24:64: undeclared name 'u14'
// expect: model:24:81: undeclared name 'u15'
// expect: model:25:13: undeclared name 'u16'
// expect: model:25:30: undeclared name 'u17'
// expect: model:25:47: undeclared name 'u18'
// expect: model:25:64: undeclared name 'u19'
// expect: model:25:81: undeclared name 'u20'
// expect: (stopped after 20 errors; fix these and compile again to see the rest)
float a1 = u1; float a2 = u2; float a3 = u3; float a4 = u4; float a5 = u5;
float a6 = u6; float a7 = u7; float a8 = u8; float a9 = u9; float a10 = u10;
float a11 = u11; float a12 = u12; float a13 = u13; float a14 = u14; float a15 = u15;
float a16 = u16; float a17 = u17; float a18 = u18; float a19 = u19; float a20 = u20;
float a21 = u21; float a22 = u22;
