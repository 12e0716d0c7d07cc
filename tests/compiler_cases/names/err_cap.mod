// expect: notice (stopped after 20 errors; fix these and compile again to see the rest)
float a1 = u1; float a2 = u2; float a3 = u3; float a4 = u4; float a5 = u5;
//         ^ error[T0201]: undeclared name 'u1'
//                        ^ error[T0201]: undeclared name 'u2'
//                                       ^ error[T0201]: undeclared name 'u3'
//                                                      ^ error[T0201]: undeclared name 'u4'
//                                                                     ^ error[T0201]: undeclared name 'u5'
float a6 = u6; float a7 = u7; float a8 = u8; float a9 = u9; float a10 = u10;
//         ^ error[T0201]: undeclared name 'u6'
//                        ^ error[T0201]: undeclared name 'u7'
//                                       ^ error[T0201]: undeclared name 'u8'
//                                                      ^ error[T0201]: undeclared name 'u9'
//                                                                      ^ error[T0201]: undeclared name 'u10'
float a11 = u11; float a12 = u12; float a13 = u13; float a14 = u14; float a15 = u15;
//          ^ error[T0201]: undeclared name 'u11'
//                           ^ error[T0201]: undeclared name 'u12'
//                                            ^ error[T0201]: undeclared name 'u13'
//                                                             ^ error[T0201]: undeclared name 'u14'
//                                                                              ^ error[T0201]: undeclared name 'u15'
float a16 = u16; float a17 = u17; float a18 = u18; float a19 = u19; float a20 = u20;
//          ^ error[T0201]: undeclared name 'u16'
//                           ^ error[T0201]: undeclared name 'u17'
//                                            ^ error[T0201]: undeclared name 'u18'
//                                                             ^ error[T0201]: undeclared name 'u19'
//                                                                              ^ error[T0201]: undeclared name 'u20'
float a21 = u21; float a22 = u22;
